// A complete DllRegisterServer against perflib language keys of growing size
// (up to 50,000 pairs per list, as on a well-used machine), so the cost per
// call and its growth with the pair-list size can be read off side by side.
#include <benchmark/benchmark.h>

#include "common/perflib_seed.h"
#include "module/dll_exports.h"
#include "common/emulated_machine.h"

namespace {

// Arg: about the pairs per list. "Counter" holds the names of the even indices
// up to 2*pairs - 100 and "Help" the help texts of the odd ones, in 009 and
// 010. The margin keeps the object's new indices below 100000: the room per
// merged text only has space for five digits.
void BM_RegisterServer(benchmark::State& state) {
    const auto pairs = static_cast<vz::DWORD>(state.range(0));
    vz::test::PerflibSeed seed;
    seed.lastCounter = 2 * pairs - 100;
    seed.lastHelp = seed.lastCounter + 1;
    vz::test::SeedPerflib(seed);
    for (auto _ : state) {
        const vz::HRESULT registered = DllRegisterServer();
        state.PauseTiming();
        // Unregistering gives the title indices back (they are topmost), so
        // every round starts from the seeded registry.
        const vz::HRESULT unregistered = DllUnregisterServer();
        state.ResumeTiming();
        if (registered != 0 || unregistered != 0) {
            state.SkipWithError("registration failed");
            break;
        }
    }
    vz::test::ResetRegistryCalls();
    DllRegisterServer();
    state.counters["registry_calls"] = static_cast<double>(vz::test::RegistryCalls());
    DllUnregisterServer();
    state.SetComplexityN(pairs);
}

BENCHMARK(BM_RegisterServer)
    ->Arg(6250)
    ->Arg(12500)
    ->Arg(25000)
    ->Arg(50000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace
