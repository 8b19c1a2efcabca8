// Registering and unregistering every performance monitor of the module with
// perflib. The module's registration hooks point at these two functions.
#pragma once
#include "platform/platform.h"
#include "support/hresult.h"

namespace vz {

// Registers each monitor of PerfMonitorList in order and installs its texts;
// the first failure is returned and the monitors behind it stay unregistered.
[[nodiscard]] HRESULT RegisterAllPerfObjects(plat::HMODULE module);
// Unregisters each monitor in order; the first failure is returned.
[[nodiscard]] HRESULT UnregisterAllPerfObjects();

}  // namespace vz
