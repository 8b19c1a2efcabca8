#include "common/emulated_machine.h"

#include <cstdlib>

#include "platform/emulated/emulated_control.h"

namespace vz {
namespace test {

void ResetMachine(DWORD granularity) {
    // The harness's registry lives in memory: a VUDOZID_REGISTRY left in the
    // developer's shell must not make it read and write that file.
    unsetenv("VUDOZID_REGISTRY");
    emu::ResetRegistry();
    emu::ClearFaults();
    emu::ResetCallCounts();
    emu::SetAllocationGranularityValue(granularity);
}

bool LoadRegistryText(const std::string& text) { return emu::ImportRegText(text); }
std::size_t RegistryCalls() { return emu::RegistryCallCount(); }
void ResetRegistryCalls() { emu::ResetCallCounts(); }
std::size_t OpenRegistryKeys() { return emu::OpenKeyCount(); }
std::size_t OpenReaderMappings() { return emu::OpenMappingCount(); }

}  // namespace test
}  // namespace vz
