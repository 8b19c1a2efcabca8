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

}  // namespace vz
