// The perflib entry points: each walks the module's monitor list and hands the
// work to every monitor in turn. Perflib only ever sees 0 or ERROR_MORE_DATA.
#include "collect/perf_exports.h"

#include "collect/perf_monitor_list.h"

using vz::DWORD;

extern "C" DWORD VZ_STDCALL OpenPerfMon(const vz::WCHAR*) { return 0; }

extern "C" DWORD VZ_STDCALL CollectPerfMon(const vz::WCHAR* valueName, void** data,
                                                DWORD* totalBytes, DWORD* numObjectTypes) {
    if (data == nullptr || totalBytes == nullptr || numObjectTypes == nullptr) return 0;
    const DWORD capacity = *totalBytes;
    DWORD remaining = capacity;
    for (ATL::CPerfMon* monitor : vz::PerfMonitorList) {
        if (monitor == nullptr) continue;
        *totalBytes = remaining;
        DWORD status = monitor->CollectObject(valueName, data, totalBytes, numObjectTypes);
        if (status != 0) return status;
        remaining -= *totalBytes;
    }
    *totalBytes = capacity - remaining;
    return 0;
}

extern "C" DWORD VZ_STDCALL ClosePerfMon() {
    for (ATL::CPerfMon* monitor : vz::PerfMonitorList)
        if (monitor != nullptr) monitor->CloseObject();
    return 0;
}
