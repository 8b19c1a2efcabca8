// The object description the server publishes, its serialized form and the
// title indices that registration handed out for it.
#include <cstring>

#include "platform/platform.h"
#include "provider.h"

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
        counter.dataOffset = 20 + 4 * i;
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

void PutWord(std::vector<BYTE>& bytes, DWORD value) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<BYTE>(value >> (8 * i)));
}

void PutEntry(std::vector<BYTE>& bytes, const DWORD (&words)[9]) {
    for (DWORD w : words) PutWord(bytes, w);
}

void PutName(std::vector<BYTE>& bytes, const std::u16string& name) {
    PutWord(bytes, static_cast<DWORD>(name.size()));
    for (char16_t ch : name) {
        bytes.push_back(static_cast<BYTE>(ch & 0xFF));
        bytes.push_back(static_cast<BYTE>(ch >> 8));
    }
    while (bytes.size() % 4 != 0) bytes.push_back(0);
}

}  // namespace

bool ApplyRegisteredTitleIndices(const std::u16string& application, MapDescription& map) {
    std::u16string path = u"SYSTEM\\CurrentControlSet\\Services\\" + application + u"\\Performance";
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
    for (const CategoryDescription& category : map)
        entries += 1 + static_cast<DWORD>(category.counters.size());
    std::vector<BYTE> bytes;
    PutWord(bytes, 0);  // map size, filled in below
    PutWord(bytes, entries);
    for (const CategoryDescription& category : map) {
        const DWORD words[9] = {1,
                                category.id,
                                category.detailLevel,
                                category.defaultCounter,
                                category.noInstances ? 0xFFFFFFFFu : 0u,
                                category.instanceDataSize,
                                category.maxInstanceNameLength,
                                category.nameTitleIndex,
                                category.helpTitleIndex};
        PutEntry(bytes, words);
        for (const CounterDescription& counter : category.counters) {
            const DWORD counterWords[9] = {0,
                                           counter.id,
                                           counter.detailLevel,
                                           counter.counterType,
                                           counter.maxCharacters,
                                           counter.dataOffset,
                                           static_cast<DWORD>(counter.defaultScale),
                                           counter.nameTitleIndex,
                                           counter.helpTitleIndex};
            PutEntry(bytes, counterWords);
        }
    }
    for (const CategoryDescription& category : map) {
        PutName(bytes, category.name);
        for (const CounterDescription& counter : category.counters) PutName(bytes, counter.name);
    }
    const DWORD size = static_cast<DWORD>(bytes.size());
    std::memcpy(bytes.data(), &size, 4);  // little-endian targets only
    return bytes;
}

std::u16string BlockName(const std::u16string& application, DWORD number) {
    std::string digits = std::to_string(number);
    while (digits.size() < 3) digits.insert(digits.begin(), '0');
    return u"Global\\ATLPERF_" + application + u"_" + std::u16string(digits.begin(), digits.end());
}

}  // namespace provider
}  // namespace vz
