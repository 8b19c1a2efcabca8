// The registered "Map" value, arbitrary type and bytes, read with no provider
// running and rendered through CollectPerfMon: the reader must stay inside the
// value, and whatever object it yields must reach perflib well formed.
// Input: [type selector][capacity selector][value bytes].
#include <cstdint>

#include "fuzz_support.h"
#include "common/emulated_machine.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // No other process's blocks may stand in for the registered map.
    vz::fuzz::UseOwnSharedMemoryNamespace();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vz::plat;
    if (size < 2) return 0;
    vz::test::ResetMachine();
    ClosePerfMon();
    const vz::DWORD types[] = {REG_BINARY, REG_BINARY, REG_BINARY, REG_SZ, REG_DWORD, REG_MULTI_SZ};
    vz::fuzz::SetValue(vz::PerformanceKeyPath(vz::fuzz::kApplication).c_str(), u"Map",
                       types[data[0] % 6], data + 2, size - 2);

    // Enough room, then one byte short of what the object took.
    const vz::DWORD capacity = data[1] < 128 ? 1u << 16 : data[1] * 8u;
    const qvperf::CollectCall call = vz::fuzz::CheckedCollect(u"Global", capacity);
    if (call.result == 0 && call.totalBytes != 0)
        vz::fuzz::CheckedCollect(u"Global", call.totalBytes - 1);
    ClosePerfMon();
    if (vz::test::OpenRegistryKeys() != 0) __builtin_trap();
    return 0;
}
