// The entries of the serialized object map by name, and the one writer of the
// map: the library's object map (objectmap/perfmon.h) stores its categories and
// counters on these entries and writes the registry value "Map" with it; the
// provider SDK describes its object with them and writes block 0's map.
#pragma once
#include <string>

#include "sharedmem/byte_layout.h"
#include "support/wide_string.h"

namespace vz {

// Word 0 of an entry tells its kind; these are the other eight words by name.
struct CategoryEntry {
    DWORD id = 0, detailLevel = 0;
    DWORD defaultCounter = 0;
    DWORD noInstances = 0;  // the library stores 0xFFFFFFFF: one set of values, no named instances
    DWORD instanceDataSize = 0, maxInstanceNameLength = 0;  // record: values, then name
    DWORD nameTitleIndex = 0, helpTitleIndex = 0;
};

struct CounterEntry {
    DWORD id = 0, detailLevel = 0;
    DWORD counterType = 0;
    DWORD maxCharacters = 0;  // text counters
    DWORD dataOffset = 0;     // of the value in the instance record
    LONG defaultScale = 0;
    DWORD nameTitleIndex = 0, helpTitleIndex = 0;
};

// Appends one entry's nine words in entry order; nothing when it does not fit.
[[nodiscard]] inline bool WriteMapEntry(ByteWriter& out, const CategoryEntry& c) noexcept {
    const MapEntryWords words = {category_entry::kKindValue, c.id, c.detailLevel,
                                 c.defaultCounter, c.noInstances, c.instanceDataSize,
                                 c.maxInstanceNameLength, c.nameTitleIndex, c.helpTitleIndex};
    return WriteMapEntry(out, words);
}
[[nodiscard]] inline bool WriteMapEntry(ByteWriter& out, const CounterEntry& e) noexcept {
    const MapEntryWords words = {counter_entry::kKindValue, e.id, e.detailLevel, e.counterType,
                                 e.maxCharacters, e.dataOffset, static_cast<DWORD>(e.defaultScale),
                                 e.nameTitleIndex, e.helpTitleIndex};
    return WriteMapEntry(out, words);
}

// The name records of both kinds of map.
[[nodiscard]] inline bool WriteNameRecord(ByteWriter& out, const std::u16string& name) noexcept {
    return WriteNameRecord(out, name.data(), name.size());
}
[[nodiscard]] inline bool WriteNameRecord(ByteWriter& out, const WString& name) noexcept {
    return WriteNameRecord(out, name.c_str(), name.Length());
}

// The entry of a category or counter that derives from its entry; a model that
// holds it as a member adds an overload of its own.
inline const CategoryEntry& MapEntryOf(const CategoryEntry& category) noexcept { return category; }
inline const CounterEntry& MapEntryOf(const CounterEntry& counter) noexcept { return counter; }

// Writes the serialized map of `categories` (each with `name` and `counters`,
// each counter with `name`): the map size `size`, the entry count, every entry
// in map order, then every name record. False when it does not fit `out`.
template <typename Categories>
[[nodiscard]] bool WriteSerializedMap(ByteWriter& out, DWORD size, const Categories& categories) {
    DWORD entries = 0;
    for (const auto& category : categories) {
        ++entries;
        for (const auto& counter : category.counters) {
            static_cast<void>(counter);
            ++entries;
        }
    }
    if (!out.WriteWord(size) || !out.WriteWord(entries)) return false;
    for (const auto& category : categories) {
        if (!WriteMapEntry(out, MapEntryOf(category))) return false;
        for (const auto& counter : category.counters)
            if (!WriteMapEntry(out, MapEntryOf(counter))) return false;
    }
    for (const auto& category : categories) {
        if (!WriteNameRecord(out, category.name)) return false;
        for (const auto& counter : category.counters)
            if (!WriteNameRecord(out, counter.name)) return false;
    }
    return true;
}

}  // namespace vz
