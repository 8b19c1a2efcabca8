#include "common/serialized_map_builder.h"

#include <cstring>

namespace vz {
namespace test {

SerializedMapBuilder& SerializedMapBuilder::Category(uint32_t id, uint32_t noInstances,
                                                     uint32_t instanceDataSize,
                                                     uint32_t maxNameLength, uint32_t nameIndex,
                                                     uint32_t helpIndex, std::u16string name,
                                                     uint32_t detailLevel,
                                                     uint32_t defaultCounter) {
    entries.push_back({{1, id, detailLevel, defaultCounter, noInstances, instanceDataSize,
                        maxNameLength, nameIndex, helpIndex},
                       std::move(name)});
    return *this;
}

SerializedMapBuilder& SerializedMapBuilder::Counter(uint32_t type, uint32_t dataOffset,
                                                    uint32_t nameIndex, uint32_t helpIndex,
                                                    std::u16string name, uint32_t maxCharacters,
                                                    int32_t defaultScale, uint32_t id,
                                                    uint32_t detailLevel) {
    entries.push_back({{0, id, detailLevel, type, maxCharacters, dataOffset,
                        static_cast<uint32_t>(defaultScale), nameIndex, helpIndex},
                       std::move(name)});
    return *this;
}

std::vector<uint8_t> SerializedMapBuilder::Build(bool withNames) const {
    std::vector<uint8_t> bytes(8 + 36 * entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i)
        for (int w = 0; w < 9; ++w) PutWord(bytes, 8 + 36 * i + 4 * w, entries[i].words[w]);
    if (withNames) {
        for (const MapEntry& entry : entries) {
            std::size_t at = bytes.size();
            bytes.resize(at + 4 + ((2 * entry.name.size() + 3) & ~std::size_t{3}), 0);
            PutWord(bytes, at, static_cast<uint32_t>(entry.name.size()));
            std::memcpy(bytes.data() + at + 4, entry.name.data(), 2 * entry.name.size());
        }
    }
    PutWord(bytes, 0, static_cast<uint32_t>(bytes.size()));
    PutWord(bytes, 4, static_cast<uint32_t>(entries.size()));
    return bytes;
}

SerializedMapBuilder ServerStatisticsMap(uint32_t firstIndex, bool withNames) {
    SerializedMapBuilder map;
    map.Category(4, 0, 84, 64, firstIndex, firstIndex + 1,
                 withNames ? u"Quorvane Server 11" : u"");
    for (uint32_t i = 0; i < 16; ++i) {
        std::u16string name = withNames ? u"Counter " + std::u16string(1, u'A' + i) : u"";
        map.Counter(0x00010000, 20 + 4 * i, firstIndex + 2 + 2 * i, firstIndex + 3 + 2 * i, name);
    }
    return map;
}

void PutWord(std::vector<uint8_t>& bytes, std::size_t offset, uint32_t value) {
    std::memcpy(bytes.data() + offset, &value, 4);
}

uint32_t GetWord(const void* bytes, std::size_t offset) {
    uint32_t value;
    std::memcpy(&value, static_cast<const uint8_t*>(bytes) + offset, 4);
    return value;
}

}  // namespace test
}  // namespace vz
