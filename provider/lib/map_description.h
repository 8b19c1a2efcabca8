// The object that a publisher describes at the start of block 0: categories
// and counters (the map entries the library uses too, sharedmem/map_entries.h)
// with their layout in the instance records, checked and laid out from the
// SDK's vzp_object, and their serialized form.
#pragma once
#include <string>
#include <vector>

#include "objectmap/perf_structures.h"
#include "sharedmem/map_entries.h"
#include "support/types.h"
#include "vudozid_provider.h"

namespace vz {
namespace provider {

constexpr DWORD kMaxCounters = 1024;
constexpr DWORD kMaxInstanceNameLength = 1024;
constexpr std::size_t kMaxApplicationLength = 200;

// A counter's map entry (its layout in the record included) and its name.
struct CounterDescription {
    CounterEntry entry;
    std::u16string name;

    // Numeric counters only: text counters are refused by DescribeObject.
    DWORD ValueSize() const { return static_cast<DWORD>(CounterValueBytes(entry.counterType, 0)); }
};

struct CategoryDescription {
    CategoryEntry entry;
    std::u16string name;
    std::vector<CounterDescription> counters;

    // Header and values, then room for the longest name with its terminator.
    DWORD RecordSize() const {
        return (entry.instanceDataSize + 2 * entry.maxInstanceNameLength + 3) & ~3u;
    }
};

using MapDescription = std::vector<CategoryDescription>;

// For WriteSerializedMap (sharedmem/map_entries.h).
inline const CategoryEntry& MapEntryOf(const CategoryDescription& category) noexcept {
    return category.entry;
}
inline const CounterEntry& MapEntryOf(const CounterDescription& counter) noexcept {
    return counter.entry;
}

// The one category of `object`: names converted, values laid out back to back
// after the record header, title indices numbered from the first ones in steps
// of 2 in map order. VZP_ERROR_INVALID_ARGUMENT for texts that are not UTF-8,
// VZP_ERROR_BAD_DESCRIPTION for anything that cannot be published.
[[nodiscard]] vzp_status DescribeObject(const vzp_object& object, MapDescription* map);

// Strict UTF-8 to UTF-16: false for a null pointer or bytes that are not UTF-8.
[[nodiscard]] bool ConvertName(const char* utf8, std::u16string* name);

// The serialized map: map size, entry count, nine-word entries in map order and
// one name record per entry.
[[nodiscard]] std::vector<BYTE> SerializeMap(const MapDescription& map);

// "Global\ATLPERF_<application>_NNN" with at least three digits.
std::u16string BlockName(const std::u16string& application, DWORD number);
// The name of the kernel object that claims an application for its publisher.
std::u16string ClaimName(const std::u16string& application);

// "First Counter" and "First Help" of the application's performance key.
[[nodiscard]] vzp_status RegisteredIndices(const std::u16string& application, DWORD* firstName,
                             DWORD* firstHelp);

}  // namespace provider
}  // namespace vz
