// Field access to the perflib structures inside perflib's buffer. Objects
// follow one another without realignment, so a header or definition may sit
// off its natural alignment; every access goes through memcpy.
#pragma once
#include <cstddef>
#include <cstring>

#include "objectmap/perf_structures.h"

namespace vz {

template <typename T>
inline T LoadField(const void* base, std::size_t offset) noexcept {
    T value;
    std::memcpy(&value, static_cast<const BYTE*>(base) + offset, sizeof value);
    return value;
}

template <typename T>
inline void StoreField(void* base, std::size_t offset, T value) noexcept {
    std::memcpy(static_cast<BYTE*>(base) + offset, &value, sizeof value);
}

// Two adjacent DWORD fields in one store, the first at `offset`.
inline void StoreFieldPair(void* base, std::size_t offset, DWORD first, DWORD second) noexcept {
    StoreField<ULONGLONG>(base, offset, static_cast<ULONGLONG>(second) << 32 | first);
}

}  // namespace vz
