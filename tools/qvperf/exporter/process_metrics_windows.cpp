// The process metrics from the Win32 process API, as the Prometheus client
// libraries read them on Windows. The exporter's own code, not the library's:
// it may include windows.h.
#include "exporter/process_metrics.h"

#include <windows.h>
#include <psapi.h>

namespace qvperf {

namespace {

// 100-ns units of a FILETIME.
double Ticks(const FILETIME& time) {
    return static_cast<double>((static_cast<unsigned long long>(time.dwHighDateTime) << 32) |
                               time.dwLowDateTime);
}

}  // namespace

bool ReadProcessMetrics(ProcessMetrics* metrics) {
    const HANDLE self = GetCurrentProcess();
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(self, &created, &exited, &kernel, &user)) return false;
    metrics->cpuSeconds = (Ticks(kernel) + Ticks(user)) / 1e7;
    // FILETIME counts from 1601; the Unix epoch is 11644473600 s later.
    metrics->startTimeSeconds = Ticks(created) / 1e7 - 11644473600.0;
    PROCESS_MEMORY_COUNTERS_EX memory{};
    if (!GetProcessMemoryInfo(self, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                              sizeof memory))
        return false;
    metrics->residentBytes = static_cast<double>(memory.WorkingSetSize);
    // Windows gives both the same value; Wine fills only PagefileUsage.
    metrics->virtualBytes =
        static_cast<double>(memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.PagefileUsage);
    // A running process always holds handles: 0 is a system that does not
    // count them (Wine), and the metric is left out.
    DWORD handles = 0;
    if (GetProcessHandleCount(self, &handles) && handles > 0) metrics->openFds = handles;
    return true;  // Windows sets no per-process handle limit worth reporting
}

}  // namespace qvperf
