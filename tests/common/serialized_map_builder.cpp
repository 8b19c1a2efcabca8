#include "common/serialized_map_builder.h"

#include <stdexcept>

#include "server_object.h"
#include "support/utf_text.h"

namespace vz {
namespace test {

SerializedMapBuilder& SerializedMapBuilder::Category(uint32_t id, uint32_t noInstances,
                                                     uint32_t instanceDataSize,
                                                     uint32_t maxNameLength, uint32_t nameIndex,
                                                     uint32_t helpIndex, std::u16string name,
                                                     uint32_t detailLevel,
                                                     uint32_t defaultCounter) {
    entries.push_back({{category_entry::kKindValue, id, detailLevel, defaultCounter, noInstances,
                        instanceDataSize, maxNameLength, nameIndex, helpIndex},
                       std::move(name)});
    return *this;
}

SerializedMapBuilder& SerializedMapBuilder::Counter(uint32_t type, uint32_t dataOffset,
                                                    uint32_t nameIndex, uint32_t helpIndex,
                                                    std::u16string name, uint32_t maxCharacters,
                                                    int32_t defaultScale, uint32_t id,
                                                    uint32_t detailLevel) {
    entries.push_back({{counter_entry::kKindValue, id, detailLevel, type, maxCharacters,
                        dataOffset, static_cast<uint32_t>(defaultScale), nameIndex, helpIndex},
                       std::move(name)});
    return *this;
}

std::vector<uint8_t> SerializedMapBuilder::Build(bool withNames) const {
    uint64_t size = MapEntriesEnd(entries.size());
    if (withNames)
        for (const MapEntry& entry : entries) size += NameRecordSize(entry.name.size());
    std::vector<uint8_t> bytes(static_cast<std::size_t>(size));
    ByteWriter out(bytes.data(), bytes.size());
    bool fits = out.WriteWord(static_cast<uint32_t>(size)) &&
                out.WriteWord(static_cast<uint32_t>(entries.size()));
    for (const MapEntry& entry : entries) fits = fits && WriteMapEntry(out, entry.words);
    if (withNames)
        for (const MapEntry& entry : entries)
            fits = fits && WriteNameRecord(out, entry.name.data(), entry.name.size());
    if (!fits) throw std::logic_error(out.FailureMessage());
    return bytes;
}

SerializedMapBuilder ServerStatisticsMap(uint32_t firstIndex, bool withNames) {
    SerializedMapBuilder map;
    map.Category(quorvane::kObjectId, 0, quorvane::kInstanceDataSize,
                 quorvane::kMaxInstanceNameLength, firstIndex, firstIndex + 1,
                 withNames ? Utf8ToUtf16(quorvane::kObjectName) : u"", quorvane::kDetailNovice);
    for (std::size_t i = 0; i < quorvane::kCounterCount; ++i) {
        const quorvane::PublishedCounter& counter = quorvane::kCounters[i];
        map.Counter(counter.counterType, counter.dataOffset, firstIndex + quorvane::TitleOffsetOf(i),
                    firstIndex + 1 + quorvane::TitleOffsetOf(i),
                    withNames ? Utf8ToUtf16(counter.name) : u"", 0, 0, 0, quorvane::kDetailNovice);
    }
    return map;
}

void PutWord(std::vector<uint8_t>& bytes, std::size_t offset, uint32_t value) {
    StoreUnchecked(&bytes.at(offset + 3) - 3, 0, value);
}

uint32_t GetWord(const void* bytes, std::size_t offset) {
    return LoadUnchecked(bytes, offset);
}

}  // namespace test
}  // namespace vz
