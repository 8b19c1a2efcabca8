// Planned failures of emulated platform calls (see emu::FailCall).
#pragma once
#include "support/types.h"

namespace vz {
namespace emu {
namespace detail {

// Counts one call of `function` against the planned faults. Returns true, with
// the planned error, when this call is the one to fail. `registryCall` makes
// faults planned for "*" count it too.
bool TakeFault(const char* function, bool registryCall, LONG* error);

}  // namespace detail
}  // namespace emu
}  // namespace vz
