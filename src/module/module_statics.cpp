// The library's static objects. They are defined in one file so that they are
// constructed in a fixed order on load and destroyed in the reverse order.
#include "collect/perf_monitor_list.h"
#include "objectmap/perfmon_ita.h"

namespace vz {

PerfMon_ITA g_serverStatistics;
ATL::CPerfMon* PerfMonitorList[kPerfMonitorCount] = {&g_serverStatistics};

}  // namespace vz
