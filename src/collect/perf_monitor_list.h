// The module's fixed list of performance monitors. Null entries are skipped by
// every walk over it; in this library it holds the one server statistics object.
#pragma once
#include <cstddef>

#include "objectmap/perfmon.h"

namespace vz {

constexpr std::size_t kPerfMonitorCount = 1;
extern ATL::CPerfMon* PerfMonitorList[kPerfMonitorCount];

}  // namespace vz
