// What the exporter's own process uses, as every Prometheus exporter reports
// it under the process_* names: CPU time, memory, start time, open file
// descriptors (Linux) or handles (Windows).
#pragma once
#include <cstdint>

namespace qvperf {

struct ProcessMetrics {
    double cpuSeconds = 0;        // user and system time
    double residentBytes = 0;     // resident set (Linux), working set (Windows)
    double virtualBytes = 0;      // address space (Linux), committed private bytes (Windows)
    double startTimeSeconds = 0;  // since the Unix epoch
    double openFds = -1;          // -1: not known
    double maxFds = -1;           // -1: no limit to report
};

// False when the system would not say (the metrics are then left out).
bool ReadProcessMetrics(ProcessMetrics* metrics);

}  // namespace qvperf
