// The object description the server publishes, its serialized form and the
// title indices that registration handed out for it.
#include "platform/platform.h"
#include "provider.h"
#include "sharedmem/byte_layout.h"
#include "support/registry_paths.h"

namespace vz {
namespace provider {

const char16_t kServerApplicationName[] = u"Quorvane Server ITA";

MapDescription ServerStatisticsDescription() {
    static const char16_t* const kNames[16] = {
        u"Accessi alla cache %",     u"% Cache non salvata",      u"Lettura KB/sec disco",
        u"Scrittura KB/sec disco",   u"Database aperti",          u"Client Quorvane Pro",
        u"Ingresso KB/sec rete",     u"Uscita KB/sec rete",       u"Client ODBC/JDBC",
        u"Client Velopress",         u"Client Formweave",         u"Chiamate remote/sec",
        u"Chiamate remote in corso", u"Tempo trascorso/chiamata", u"Tempo di attesa/chiamata",
        u"Tempo IO/chiamata"};
    CategoryDescription category;
    category.id = 4;
    category.detailLevel = 100;
    category.defaultCounter = 0;
    category.noInstances = false;
    category.instanceDataSize = 84;
    category.maxInstanceNameLength = 64;
    category.name = u"Quorvane Server 11";
    for (DWORD i = 0; i < 16; ++i) {
        CounterDescription counter;
        counter.dataOffset = kRecordHeaderSize + 4 * i;
        counter.name = kNames[i];
        category.counters.push_back(counter);
    }
    return MapDescription{category};
}

namespace {

bool ReadDword(plat::HKEY key, const char16_t* name, DWORD* value) {
    DWORD type = 0;
    DWORD size = sizeof(*value);
    return plat::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value),
                                  &size) == 0 &&
           type == plat::REG_DWORD && size == sizeof(*value);
}

}  // namespace

bool ApplyRegisteredTitleIndices(const std::u16string& application, MapDescription& map) {
    const std::u16string path = PerformanceKeyPath(application.c_str()).ToU16();
    plat::HKEY key = nullptr;
    if (plat::RegOpenKeyExW(plat::HKeyLocalMachine(), path.c_str(), 0, plat::KEY_READ, &key) != 0)
        return false;
    DWORD firstCounter = 0, firstHelp = 0;
    bool found = ReadDword(key, u"First Counter", &firstCounter) &&
                 ReadDword(key, u"First Help", &firstHelp);
    plat::RegCloseKey(key);
    if (!found) return false;
    DWORD c = firstCounter, h = firstHelp;
    for (CategoryDescription& category : map) {
        category.nameTitleIndex = c;
        category.helpTitleIndex = h;
        c += 2;
        h += 2;
        for (CounterDescription& counter : category.counters) {
            counter.nameTitleIndex = c;
            counter.helpTitleIndex = h;
            c += 2;
            h += 2;
        }
    }
    return true;
}

std::vector<BYTE> SerializeMap(const MapDescription& map) {
    DWORD entries = 0;
    ULONGLONG size = kMapHeaderSize;
    for (const CategoryDescription& category : map) {
        entries += 1 + static_cast<DWORD>(category.counters.size());
        size += NameRecordSize(category.name.size());
        for (const CounterDescription& counter : category.counters)
            size += NameRecordSize(counter.name.size());
    }
    size += kMapEntrySize * entries;
    std::vector<BYTE> bytes(static_cast<std::size_t>(size));
    ByteWriter out(bytes.data(), bytes.size());
    out.WriteWord(static_cast<DWORD>(size));
    out.WriteWord(entries);
    for (const CategoryDescription& category : map) {
        const MapEntryWords entry = {category_entry::kKindValue, category.id,
                                     category.detailLevel, category.defaultCounter,
                                     category.noInstances ? 0xFFFFFFFFu : 0u,
                                     category.instanceDataSize, category.maxInstanceNameLength,
                                     category.nameTitleIndex, category.helpTitleIndex};
        WriteMapEntry(out, entry);
        for (const CounterDescription& counter : category.counters) {
            const MapEntryWords counterEntry = {counter_entry::kKindValue, counter.id,
                                                counter.detailLevel, counter.counterType,
                                                counter.maxCharacters, counter.dataOffset,
                                                static_cast<DWORD>(counter.defaultScale),
                                                counter.nameTitleIndex, counter.helpTitleIndex};
            WriteMapEntry(out, counterEntry);
        }
    }
    for (const CategoryDescription& category : map) {
        WriteNameRecord(out, category.name.data(), category.name.size());
        for (const CounterDescription& counter : category.counters)
            WriteNameRecord(out, counter.name.data(), counter.name.size());
    }
    return bytes;
}

std::u16string BlockName(const std::u16string& application, DWORD number) {
    std::u16string name(application.size() + 32, u'\0');
    name.resize(FormatBlockName(application.c_str(), number, &name[0], name.size()));
    return name;
}

}  // namespace provider
}  // namespace vz
