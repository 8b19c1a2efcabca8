// The layout of one instance's counter block: each counter placed by the
// counter-size rule (objectmap/perf_structures.h) after the 8-byte block
// header, the block raised to a multiple of 8.
#pragma once
#include "objectmap/perfmon.h"

namespace vz {

inline ULONGLONG AlignUp(ULONGLONG value, DWORD alignment) noexcept {
    if (alignment == 0) return value;
    return (value + alignment - 1) / alignment * alignment;
}

// Places one counter after `end` (the bytes of the block laid out so far):
// returns its CounterOffset and moves *end past it.
inline ULONGLONG PlaceCounter(const CounterPlacement& placement, ULONGLONG* end) noexcept {
    const ULONGLONG offset = AlignUp(*end, placement.alignment);
    *end = offset + placement.size;
    return offset;
}

// The counter block size that the category's counters lay out to, computed
// wide so that a hostile map cannot wrap it.
inline ULONGLONG CounterBlockExtent(const CategoryRecord& category) noexcept {
    ULONGLONG end = kCounterBlockHeaderSize;
    for (const CounterRecord& counter : category.counters)
        PlaceCounter(CounterPlacementOf(counter.counterType, counter.maxCharacters), &end);
    return AlignUp(end, 8);
}

}  // namespace vz
