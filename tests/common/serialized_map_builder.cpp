#include "common/serialized_map_builder.h"

#include "objectmap/perf_structures.h"

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
    out.WriteWord(static_cast<uint32_t>(size));
    out.WriteWord(static_cast<uint32_t>(entries.size()));
    for (const MapEntry& entry : entries) WriteMapEntry(out, entry.words);
    if (withNames)
        for (const MapEntry& entry : entries) WriteNameRecord(out, entry.name.data(), entry.name.size());
    return bytes;
}

SerializedMapBuilder ServerStatisticsMap(uint32_t firstIndex, bool withNames) {
    SerializedMapBuilder map;
    map.Category(4, 0, 84, 64, firstIndex, firstIndex + 1,
                 withNames ? u"Quorvane Server 11" : u"");
    for (uint32_t i = 0; i < 16; ++i) {
        std::u16string name = withNames ? u"Counter " + std::u16string(1, u'A' + i) : u"";
        map.Counter(PERF_COUNTER_RAWCOUNT, kRecordHeaderSize + 4 * i, firstIndex + 2 + 2 * i, firstIndex + 3 + 2 * i, name);
    }
    return map;
}

void PutWord(std::vector<uint8_t>& bytes, std::size_t offset, uint32_t value) {
    StoreWord(&bytes.at(offset + 3) - 3, value);
}

uint32_t GetWord(const void* bytes, std::size_t offset) {
    return LoadWord(static_cast<const uint8_t*>(bytes) + offset);
}

}  // namespace test
}  // namespace vz
