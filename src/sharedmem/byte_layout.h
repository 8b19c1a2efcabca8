// The cross-process byte formats of the provider's shared-memory blocks, stated
// once: the serialized object map (block 0's start, and the registry value
// "Map"), the block-number word of every block, the instance area and the
// instance record header. Words are 32-bit little-endian and may be unaligned.
// Nothing else restates these offsets.
//
// Bytes are reached in one of two tiers:
//   - checked: ByteReader / ByteWriter (support/byte_cursor.h), wherever a
//     length or offset comes from outside (shared memory, the registry, a
//     library's output); a refused access says what and where;
//   - unchecked: LoadUnchecked / StoreUnchecked below, only on the proven hot
//     paths (the instance walk and snapshot, the renderer writing perflib's
//     buffer, entries of a map whose extent was checked as a whole), where the
//     caller has bounded the whole structure once before its fields are read.
#pragma once
#include <cstring>

#include "support/byte_cursor.h"
#include "support/types.h"

namespace vz {

// --- Unchecked tier ----------------------------------------------------------
// A T at `offset` bytes from `base`, any alignment (structures follow one
// another without realignment); the caller guarantees the bytes are there.
template <typename T = DWORD>
[[nodiscard]] inline T LoadUnchecked(const void* base, std::size_t offset) noexcept {
    T value;
    std::memcpy(&value, static_cast<const BYTE*>(base) + offset, sizeof value);
    return value;
}

template <typename T = DWORD>
inline void StoreUnchecked(void* base, std::size_t offset, T value) noexcept {
    std::memcpy(static_cast<BYTE*>(base) + offset, &value, sizeof value);
}

// Two adjacent words in one store, the first at `offset`.
inline void StorePairUnchecked(void* base, std::size_t offset, DWORD first, DWORD second) noexcept {
    StoreUnchecked<ULONGLONG>(base, offset, static_cast<ULONGLONG>(second) << 32 | first);
}

// --- Serialized map -------------------------------------------------------
// Header: the map size in bytes (header, entries and name area), then N.
constexpr std::size_t kMapSizeOffset = 0;
constexpr std::size_t kMapEntryCountOffset = 4;
constexpr std::size_t kMapHeaderSize = 8;

// N entries of nine words follow the header, in map order. Word 0 tells the
// kind: non-zero for a category entry, 0 for a counter entry.
constexpr std::size_t kMapEntryWords = 9;
constexpr std::size_t kMapEntrySize = 4 * kMapEntryWords;

// Fields of both kinds of entry (byte offsets inside the entry).
namespace map_entry {
constexpr std::size_t kKind = 0;
constexpr std::size_t kId = 4;
constexpr std::size_t kDetailLevel = 8;
constexpr std::size_t kNameTitleIndex = 28;
constexpr std::size_t kHelpTitleIndex = 32;
}  // namespace map_entry

// Fields of a category entry only.
namespace category_entry {
constexpr DWORD kKindValue = 1;  // what writers store in word 0
constexpr std::size_t kDefaultCounter = 12;
constexpr std::size_t kNoInstances = 16;  // non-zero: the category has no instances
constexpr std::size_t kInstanceDataSize = 20;
constexpr std::size_t kMaxInstanceNameLength = 24;
}  // namespace category_entry

// Fields of a counter entry only (note the order differs from a category's).
namespace counter_entry {
constexpr DWORD kKindValue = 0;
constexpr std::size_t kCounterType = 12;
constexpr std::size_t kMaxCharacters = 16;
constexpr std::size_t kDataOffset = 20;
constexpr std::size_t kDefaultScale = 24;  // two's-complement 32-bit
}  // namespace counter_entry

static_assert(map_entry::kHelpTitleIndex + 4 == kMapEntrySize, "the help index is the last word");

// Where entry `index` starts, and where the entries of a map of `count` end
// (the name area starts there when the map size is larger). Wide: no wrap.
constexpr ULONGLONG MapEntryOffset(ULONGLONG index) noexcept {
    return kMapHeaderSize + kMapEntrySize * index;
}
constexpr ULONGLONG MapEntriesEnd(ULONGLONG count) noexcept { return MapEntryOffset(count); }

// A name record: the length L in UTF-16 units (no terminator), the L units,
// zero padding to a multiple of 4.
constexpr std::size_t kNameLengthSize = 4;
constexpr ULONGLONG NameTextBytes(ULONGLONG units) noexcept { return 2 * units; }
constexpr ULONGLONG NameRecordSize(ULONGLONG units) noexcept {
    return kNameLengthSize + ((NameTextBytes(units) + 3) & ~static_cast<ULONGLONG>(3));
}
static_assert(NameRecordSize(0) == 4 && NameRecordSize(1) == 8 && NameRecordSize(3) == 12,
              "name records are padded to words");

// One entry's nine words in entry order, as writers list them:
//   category: {kind 1, id, detail level, default counter, no-instances flag,
//              instance data size, maximum instance name length, name index, help index}
//   counter:  {kind 0, id, detail level, counter type, maximum characters,
//              data offset, default scale, name index, help index}
using MapEntryWords = DWORD[kMapEntryWords];
static_assert(category_entry::kDefaultCounter == 12 && category_entry::kNoInstances == 16 &&
                  category_entry::kInstanceDataSize == 20 &&
                  category_entry::kMaxInstanceNameLength == 24,
              "category words in entry order");
static_assert(counter_entry::kCounterType == 12 && counter_entry::kMaxCharacters == 16 &&
                  counter_entry::kDataOffset == 20 && counter_entry::kDefaultScale == 24,
              "counter words in entry order");

// Appends one entry; nothing is written when it does not fit.
[[nodiscard]] inline bool WriteMapEntry(ByteWriter& out, const MapEntryWords& words) noexcept {
    return out.WriteBytes(words, kMapEntrySize);
}

// Appends one name record (length, text, padding).
[[nodiscard]] inline bool WriteNameRecord(ByteWriter& out, const char16_t* name,
                                          std::size_t units) noexcept {
    return out.Holds(out.Offset(), NameRecordSize(units))
               ? out.WriteWord(static_cast<DWORD>(units)) &&
                     out.WriteBytes(name, NameTextBytes(units)) && out.PadTo(4)
               : out.Skip(NameRecordSize(units));  // refused: records the fault
}

// --- Blocks --------------------------------------------------------------
// Every block carries its number in the word at offset `map size` (block 0's
// map size; the other blocks leave the map's bytes unused). The instance area
// starts at (map size + 4) rounded up to 16.
constexpr std::size_t kBlockNumberSize = 4;
constexpr ULONGLONG BlockNumberOffset(DWORD mapSize) noexcept { return mapSize; }
constexpr ULONGLONG InstanceAreaOffsetFor(DWORD mapSize) noexcept {
    return (static_cast<ULONGLONG>(mapSize) + kBlockNumberSize + 15) & ~static_cast<ULONGLONG>(15);
}
static_assert(InstanceAreaOffsetFor(620) == 624, "17 unnamed entries: instance area at 624");

// The shared-memory object name of block `number`: "Global\ATLPERF_<application>_NNN",
// the number with at least three digits. Written into out (room for outCount
// units with the terminator); returns the units written, 0 when it does not fit.
std::size_t FormatBlockName(const char16_t* application, DWORD number, char16_t* out,
                            std::size_t outCount) noexcept;
// The name of the claim a publisher holds on `application` while it lives:
// "Global\ATLPERF_<application>_publisher". Written and counted as above.
std::size_t FormatClaimName(const char16_t* application, char16_t* out,
                            std::size_t outCount) noexcept;

// --- Instance records ------------------------------------------------------
// Record header fields (byte offsets from the record's start).
constexpr std::size_t kRecordSizeOffset = 0;
constexpr std::size_t kCategoryIdOffset = 4;
constexpr std::size_t kInstanceIdOffset = 8;
constexpr std::size_t kUseCountOffset = 12;
constexpr std::size_t kNameOffsetOffset = 16;
constexpr DWORD kRecordHeaderSize = 20;
static_assert(kNameOffsetOffset + 4 == kRecordHeaderSize, "NameOffset ends the header");

// The records of a block are followed by one RecordSize word holding an end mark.
constexpr DWORD kEndMarkSize = 4;
// RecordSize values with a meaning of their own.
constexpr DWORD kEndOfInstances = 0;          // no record follows anywhere
constexpr DWORD kEndOfBlock = 0xFFFFFFFFu;    // continue at the next block's instance area

// UseCount of a free record; writers store kLiveUseCount for a live one.
constexpr DWORD kFreeUseCount = 0;
constexpr DWORD kLiveUseCount = 1;

}  // namespace vz
