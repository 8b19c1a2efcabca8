// The perflib v1 data structures as they appear in perflib's buffer. The title
// pointer fields are 32 bits wide in both the 32-bit and the 64-bit layout.
#pragma once
#include <cstddef>

#include "support/types.h"

namespace vz {

struct PERF_OBJECT_TYPE {
    DWORD TotalByteLength;
    DWORD DefinitionLength;
    DWORD HeaderLength;
    DWORD ObjectNameTitleIndex;
    DWORD ObjectNameTitle;
    DWORD ObjectHelpTitleIndex;
    DWORD ObjectHelpTitle;
    DWORD DetailLevel;
    DWORD NumCounters;
    LONG DefaultCounter;
    LONG NumInstances;
    DWORD CodePage;
    alignas(8) LONGLONG PerfTime;
    LONGLONG PerfFreq;
};

struct PERF_COUNTER_DEFINITION {
    DWORD ByteLength;
    DWORD CounterNameTitleIndex;
    DWORD CounterNameTitle;
    DWORD CounterHelpTitleIndex;
    DWORD CounterHelpTitle;
    LONG DefaultScale;
    DWORD DetailLevel;
    DWORD CounterType;
    DWORD CounterSize;
    DWORD CounterOffset;
};

struct PERF_INSTANCE_DEFINITION {
    DWORD ByteLength;
    DWORD ParentObjectTitleIndex;
    DWORD ParentObjectInstance;
    LONG UniqueID;
    DWORD NameOffset;
    DWORD NameLength;
};

struct PERF_COUNTER_BLOCK {
    DWORD ByteLength;
};

static_assert(sizeof(PERF_OBJECT_TYPE) == 64, "PERF_OBJECT_TYPE is 64 bytes");
static_assert(offsetof(PERF_OBJECT_TYPE, NumInstances) == 40, "NumInstances at 40");
static_assert(offsetof(PERF_OBJECT_TYPE, PerfTime) == 48, "PerfTime at 48");
static_assert(offsetof(PERF_OBJECT_TYPE, PerfFreq) == 56, "PerfFreq at 56");
static_assert(sizeof(PERF_COUNTER_DEFINITION) == 40, "PERF_COUNTER_DEFINITION is 40 bytes");
static_assert(offsetof(PERF_COUNTER_DEFINITION, CounterOffset) == 36, "CounterOffset at 36");
static_assert(sizeof(PERF_INSTANCE_DEFINITION) == 24, "PERF_INSTANCE_DEFINITION is 24 bytes");
static_assert(offsetof(PERF_INSTANCE_DEFINITION, NameLength) == 20, "NameLength at 20");
static_assert(sizeof(PERF_COUNTER_BLOCK) == 4, "PERF_COUNTER_BLOCK is 4 bytes");

constexpr DWORD PERF_DETAIL_NOVICE = 100;
constexpr LONG PERF_NO_INSTANCES = -1;
constexpr LONG PERF_NO_UNIQUE_ID = -1;
constexpr DWORD PERF_SIZE_DWORD = 0x000;
constexpr DWORD PERF_SIZE_LARGE = 0x100;
constexpr DWORD PERF_SIZE_ZERO = 0x200;
constexpr DWORD PERF_SIZE_VARIABLE_LEN = 0x300;
constexpr DWORD PERF_SIZE_MASK = 0x300;
constexpr DWORD PERF_TEXT_ASCII = 0x00010000;
constexpr DWORD PERF_COUNTER_RAWCOUNT = 0x00010000;
constexpr DWORD PERF_ELAPSED_TIME = 0x30240500;

// --- The counter-size rule -------------------------------------------------
// Where a counter's value goes in a PERF_COUNTER_BLOCK, from the size bits of
// its type (type & PERF_SIZE_MASK): DWORD 4 bytes aligned to 4, LARGE 8 aligned
// to 8, ZERO nothing, VARIABLE_LEN the text field (maximum characters, 8-bit
// with PERF_TEXT_ASCII else UTF-16) rounded up to 4 and not aligned.
struct CounterPlacement {
    ULONGLONG size;   // CounterSize
    DWORD alignment;  // 0: placed without alignment
};

// Bytes the value takes in an instance record: the same sizes, the text field
// not rounded. Wide, so that a hostile maximum cannot wrap it.
constexpr ULONGLONG CounterValueBytes(DWORD counterType, DWORD maxCharacters) noexcept {
    switch (counterType & PERF_SIZE_MASK) {
        case PERF_SIZE_DWORD: return 4;
        case PERF_SIZE_LARGE: return 8;
        case PERF_SIZE_ZERO: return 0;
        default:
            return (counterType & PERF_TEXT_ASCII) ? ULONGLONG{maxCharacters}
                                                   : 2 * ULONGLONG{maxCharacters};
    }
}

constexpr CounterPlacement CounterPlacementOf(DWORD counterType, DWORD maxCharacters) noexcept {
    const ULONGLONG bytes = CounterValueBytes(counterType, maxCharacters);
    switch (counterType & PERF_SIZE_MASK) {
        case PERF_SIZE_DWORD: return {bytes, 4};
        case PERF_SIZE_LARGE: return {bytes, 8};
        case PERF_SIZE_ZERO: return {bytes, 0};
        default: return {(bytes + 3) & ~ULONGLONG{3}, 0};
    }
}

static_assert(CounterPlacementOf(PERF_SIZE_LARGE, 0).alignment == 8, "LARGE aligns to 8");
static_assert(CounterPlacementOf(PERF_SIZE_VARIABLE_LEN | PERF_TEXT_ASCII, 5).size == 8,
              "ASCII text of 5 takes 8 bytes");
static_assert(CounterPlacementOf(PERF_SIZE_VARIABLE_LEN, 5).size == 12,
              "UTF-16 text of 5 takes 12 bytes");

// --- Instances in perflib's buffer ----------------------------------------------
// A PERF_INSTANCE_DEFINITION is followed by its name (UTF-16 with terminator,
// NameLength bytes) padded to 8; its counter block follows.
constexpr DWORD kInstanceNameOffset = sizeof(PERF_INSTANCE_DEFINITION);
constexpr ULONGLONG InstanceDefinitionLength(ULONGLONG nameBytes) noexcept {
    return sizeof(PERF_INSTANCE_DEFINITION) + ((nameBytes + 7) & ~ULONGLONG{7});
}
// A counter block begins with its ByteLength word and four more bytes.
constexpr DWORD kCounterBlockHeaderSize = 8;

}  // namespace vz
