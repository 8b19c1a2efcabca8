// Reserving, handing out and giving back the object's perflib title indices.
// Names and help texts each take every second number of their own range.
#include "objectmap/perfmon.h"
#include "registration/registry_access.h"

namespace ATL {

using namespace vz;

namespace {

// The recorded ranges hold `entries` numbers of step 2 each.
bool RangesHold(const TitleRanges& ranges, DWORD entries) {
    DWORD needed = 2 * entries;
    return needed <= ranges.lastCounter - ranges.firstCounter + 2 &&
           needed <= ranges.lastHelp - ranges.firstHelp + 2;
}

}  // namespace

HRESULT CPerfMon::AllocateTitleIndices(DWORD* firstNameIndex, DWORD* firstHelpIndex) {
    try {
        DWORD entries = CountMapEntries();
        WString performancePath = PerformanceKeyPath(ApplicationName());
        CKeyHandle performanceKey;
        // A key that does not open just has no ranges to reuse.
        if (performanceKey.Open(plat::HKeyLocalMachine(), performancePath.c_str()) ==
            ERROR_SUCCESS) {
            TitleRanges recorded;
            if (ReadTitleRanges(performanceKey.Get(), &recorded) == ERROR_SUCCESS &&
                RangesHold(recorded, entries)) {
                *firstNameIndex = recorded.firstCounter;
                *firstHelpIndex = recorded.firstHelp;
                return S_OK;
            }
        }

        CKeyHandle perflibKey;
        LONG error = perflibKey.Open(plat::HKeyLocalMachine(), kPerflibKeyPath);
        if (error != ERROR_SUCCESS) return HResultFromWin32(error);
        if (!performanceKey.IsOpen()) {
            error = performanceKey.Create(plat::HKeyLocalMachine(), performancePath.c_str());
            if (error != ERROR_SUCCESS) return HResultFromWin32(error);
        }

        DWORD lastCounter = 0;
        DWORD lastHelp = 0;
        error = ReadDwordValue(perflibKey.Get(), u"Last Counter", &lastCounter);
        if (error == ERROR_SUCCESS) error = ReadDwordValue(perflibKey.Get(), u"Last Help", &lastHelp);
        if (error != ERROR_SUCCESS) return HResultFromWin32(error);

        const DWORD span = 2 * entries;
        const struct {
            plat::HKEY key;
            const WCHAR* name;
            DWORD value;
        } writes[] = {
            {perflibKey.Get(), u"Last Counter", lastCounter + span},
            {perflibKey.Get(), u"Last Help", lastHelp + span},
            {performanceKey.Get(), u"First Counter", lastCounter + 2},
            {performanceKey.Get(), u"Last Counter", lastCounter + span},
            {performanceKey.Get(), u"First Help", lastHelp + 2},
            {performanceKey.Get(), u"Last Help", lastHelp + span},
        };
        for (const auto& write : writes) {
            error = WriteDwordValue(write.key, write.name, write.value);
            if (error != ERROR_SUCCESS) return HResultFromWin32(error);
        }
        *firstNameIndex = lastCounter + 2;
        *firstHelpIndex = lastHelp + 2;
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

void CPerfMon::AssignTitleIndices(DWORD firstNameIndex, DWORD firstHelpIndex) {
    DWORD name = firstNameIndex;
    DWORD help = firstHelpIndex;
    for (CategoryRecord& category : categories) {
        category.nameTitleIndex = name;
        category.helpTitleIndex = help;
        name += 2;
        help += 2;
        for (CounterRecord& counter : category.counters) {
            counter.nameTitleIndex = name;
            counter.helpTitleIndex = help;
            name += 2;
            help += 2;
        }
    }
}

HRESULT CPerfMon::ReleaseTitleIndices(plat::HKEY perflibKey, plat::HKEY performanceKey) {
    DWORD perflibLastCounter = 0;
    DWORD perflibLastHelp = 0;
    TitleRanges ranges;
    LONG error = ReadDwordValue(perflibKey, u"Last Counter", &perflibLastCounter);
    if (error == ERROR_SUCCESS) error = ReadDwordValue(perflibKey, u"Last Help", &perflibLastHelp);
    if (error == ERROR_SUCCESS) error = ReadTitleRanges(performanceKey, &ranges);
    if (error != ERROR_SUCCESS) return HResultFromWin32(error);

    // Only the topmost ranges can go back; a range below another program's
    // stays reserved.
    if (perflibLastCounter == ranges.lastCounter) {
        error = WriteDwordValue(perflibKey, u"Last Counter", ranges.firstCounter - 2);
        if (error != ERROR_SUCCESS) return HResultFromWin32(error);
    }
    if (perflibLastHelp == ranges.lastHelp) {
        error = WriteDwordValue(perflibKey, u"Last Help", ranges.firstHelp - 2);
        if (error != ERROR_SUCCESS) return HResultFromWin32(error);
    }
    return S_OK;
}

}  // namespace ATL
