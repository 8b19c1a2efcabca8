// The database server's statistics object: one category with named instances
// and sixteen raw 32-bit counters, laid out as the server writes its records.
#include "objectmap/perfmon_ita.h"

namespace vz {
namespace {

struct CounterDefinition {
    DWORD dataOffset;
    DWORD nameResource;
    DWORD helpResource;
};

// In output order; the data offsets follow the 20-byte record header.
constexpr CounterDefinition kCounters[] = {
    {20, 103, 104}, {24, 105, 106}, {28, 107, 108}, {32, 129, 130},
    {36, 109, 110}, {40, 111, 112}, {44, 113, 114}, {48, 131, 132},
    {52, 115, 116}, {56, 117, 118}, {60, 119, 120}, {64, 121, 122},
    {68, 133, 134}, {72, 123, 124}, {76, 125, 126}, {80, 127, 128},
};

constexpr DWORD kCategoryId = 4;
constexpr DWORD kCategoryName = 101;
constexpr DWORD kCategoryHelp = 102;
constexpr DWORD kInstanceDataSize = 84;
constexpr DWORD kMaxInstanceNameLength = 64;

}  // namespace

const WCHAR* PerfMon_ITA::ApplicationName() const { return u"Quorvane Server ITA"; }

HRESULT PerfMon_ITA::BuildObjectMap(LANGID language, plat::HMODULE resourceModule,
                                    DWORD* firstNameResource) {
    if (firstNameResource != nullptr) *firstNameResource = 0;
    ClearObjectMap();
    if (Failed(AddLocalizedCategory(language, resourceModule, firstNameResource, kCategoryId,
                                    kCategoryName, kCategoryHelp, PERF_DETAIL_NOVICE, false,
                                    kInstanceDataSize, kMaxInstanceNameLength, 0)))
        return E_FAIL;
    for (const CounterDefinition& counter : kCounters) {
        if (Failed(AddLocalizedCounter(language, resourceModule, 0, counter.nameResource,
                                       counter.helpResource, PERF_DETAIL_NOVICE,
                                       PERF_COUNTER_RAWCOUNT, 0, counter.dataOffset, 0)))
            return E_FAIL;
    }
    return S_OK;
}

}  // namespace vz
