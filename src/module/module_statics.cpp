// The library's static objects. They are defined in one file so that they are
// constructed in a fixed order on load (class table, module resources, the
// registration hooks, the monitor, the module) and destroyed in the reverse
// order at process detach.
#include "collect/perf_monitor_list.h"
#include "module/module_records.h"
#include "module/vudozid_module.h"
#include "objectmap/perfmon_ita.h"
#include "registration/registration_driver.h"

namespace vz {

// Constant-initialised, so valid before any constructor below runs.
bool ModuleInitFailed = false;
RegisterCountersFunction RegisterCountersHook = nullptr;
UnregisterCountersFunction UnregisterCountersHook = nullptr;

CClassObjectTable ClassObjects;
CModuleResources ModuleResources;

namespace {
struct CounterHooksSetter {
    CounterHooksSetter() {
        RegisterCountersHook = &RegisterAllPerfObjects;
        UnregisterCountersHook = &UnregisterAllPerfObjects;
    }
};
CounterHooksSetter counterHooksSetter;
}  // namespace

PerfMon_ITA g_serverStatistics;
ATL::CPerfMon* PerfMonitorList[kPerfMonitorCount] = {&g_serverStatistics};

CVudoZidModule VudoZidModule;

}  // namespace vz
