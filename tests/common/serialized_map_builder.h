// Builds serialized object maps byte by byte, the way a provider lays one out
// at the start of block 0 or registration stores it in the value "Map".
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "sharedmem/byte_layout.h"

namespace vz {
namespace test {

struct MapEntry {
    MapEntryWords words;
    std::u16string name;
};

class SerializedMapBuilder {
public:
    SerializedMapBuilder& Category(uint32_t id, uint32_t noInstances, uint32_t instanceDataSize,
                                   uint32_t maxNameLength, uint32_t nameIndex = 0,
                                   uint32_t helpIndex = 0, std::u16string name = u"",
                                   uint32_t detailLevel = 100, uint32_t defaultCounter = 0);
    SerializedMapBuilder& Counter(uint32_t type, uint32_t dataOffset, uint32_t nameIndex = 0,
                                  uint32_t helpIndex = 0, std::u16string name = u"",
                                  uint32_t maxCharacters = 0, int32_t defaultScale = 0,
                                  uint32_t id = 0, uint32_t detailLevel = 100);
    // With names: a name record per entry follows the entries.
    std::vector<uint8_t> Build(bool withNames) const;

    std::vector<MapEntry> entries;
};

// The published object's map (server_object.h): its category (name index
// firstIndex) and counters (name indices firstIndex + 2, + 4, ...), with the
// table's names when `withNames`.
SerializedMapBuilder ServerStatisticsMap(uint32_t firstIndex, bool withNames = false);

void PutWord(std::vector<uint8_t>& bytes, std::size_t offset, uint32_t value);
uint32_t GetWord(const void* bytes, std::size_t offset);

}  // namespace test
}  // namespace vz
