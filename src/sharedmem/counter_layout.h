// Size and alignment of one counter's value in the output counter block, from
// the size bits of its counter type.
#pragma once
#include "objectmap/perfmon.h"

namespace vz {

struct CounterPlacement {
    ULONGLONG size;   // CounterSize
    DWORD alignment;  // 0: placed without alignment
};

inline CounterPlacement PlacementOf(DWORD counterType, DWORD maxCharacters) noexcept {
    switch (counterType & PERF_SIZE_MASK) {
        case PERF_SIZE_DWORD:
            return {4, 4};
        case PERF_SIZE_LARGE:
            return {8, 8};
        case PERF_SIZE_ZERO:
            return {0, 0};
        default: {
            ULONGLONG units = maxCharacters;
            ULONGLONG bytes = (counterType & PERF_TEXT_ASCII) ? units : 2 * units;
            return {(bytes + 3) & ~static_cast<ULONGLONG>(3), 0};
        }
    }
}

inline ULONGLONG AlignUp(ULONGLONG value, DWORD alignment) noexcept {
    if (alignment == 0) return value;
    return (value + alignment - 1) / alignment * alignment;
}

// The counter block size that the category's counters lay out to, computed
// wide so that a hostile map cannot wrap it.
inline ULONGLONG CounterBlockExtent(const CategoryRecord& category) noexcept {
    ULONGLONG end = 8;
    for (const CounterRecord& counter : category.counters) {
        CounterPlacement placement = PlacementOf(counter.counterType, counter.maxCharacters);
        end = AlignUp(end, placement.alignment) + placement.size;
    }
    return AlignUp(end, 8);
}

}  // namespace vz
