// Word access to the cross-process byte formats (shared-memory blocks, the
// serialized map). Words are 32-bit little-endian and may be unaligned.
#pragma once
#include <cstring>

#include "support/types.h"

namespace vz {

inline DWORD LoadWord(const void* at) noexcept {
    DWORD value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

inline void StoreWord(void* at, DWORD value) noexcept { std::memcpy(at, &value, sizeof value); }

// Instance record header.
constexpr std::size_t kRecordSizeOffset = 0;
constexpr std::size_t kCategoryIdOffset = 4;
constexpr std::size_t kInstanceIdOffset = 8;
constexpr std::size_t kUseCountOffset = 12;
constexpr std::size_t kNameOffsetOffset = 16;
constexpr DWORD kRecordHeaderSize = 20;

// RecordSize values with a meaning of their own.
constexpr DWORD kEndOfInstances = 0;
constexpr DWORD kEndOfBlock = 0xFFFFFFFFu;

// Serialized map.
constexpr std::size_t kMapHeaderSize = 8;
constexpr std::size_t kMapEntrySize = 36;

// Where instance records start in every block: (map size + 4) rounded up to 16.
inline ULONGLONG InstanceAreaOffsetFor(DWORD mapSize) noexcept {
    return (static_cast<ULONGLONG>(mapSize) + 4 + 15) & ~static_cast<ULONGLONG>(15);
}

}  // namespace vz
