// Collection cost through CollectPerfMon against a baseline that only copies
// the same bytes: each record in, each instance's output bytes out.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "collect/perf_exports.h"
#include "collect/perf_monitor_list.h"
#include "common/emulated_machine.h"
#include "platform/platform.h"
#include "published_instances.h"
#include "support/allocation.h"

namespace {

// Every operator new of the process is counted, beside the library's own
// allocation hooks, so "no allocation per sample" covers both.
std::atomic<std::size_t> g_news{0};

}  // namespace

void* operator new(std::size_t size) {
    g_news.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using vz::BYTE;
using vz::DWORD;

using vz_bench::CollectOnce;
using vz_bench::Published;

void BM_Collect(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    Published published(count);
    std::vector<BYTE> buffer(static_cast<std::size_t>(count) * 128 + 4096);
    DWORD bytes = CollectOnce(buffer);  // opens the blocks and reads the map
    std::size_t allocations = 0;
    for (auto _ : state) {
        std::size_t before = vz::allocation_hooks::Count() + g_news.load();
        bytes = CollectOnce(buffer);
        allocations += vz::allocation_hooks::Count() + g_news.load() - before;
        benchmark::DoNotOptimize(buffer.data());
    }
    ClosePerfMon();
    state.counters["ns_per_instance"] = benchmark::Counter(
        static_cast<double>(count) * state.iterations(),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["allocs_per_sample"] =
        static_cast<double>(allocations) / static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
    state.SetComplexityN(count);
}

// The same bytes moved with memcpy only: a 212-byte record into a private copy,
// then the instance's 24 + name + 72 output bytes into the buffer.
void BM_CopyBaseline(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    Published published(count);
    std::vector<BYTE> buffer(static_cast<std::size_t>(count) * 128 + 4096);
    DWORD bytes = CollectOnce(buffer);
    ClosePerfMon();
    const DWORD instanceBytes = count ? (bytes - 704) / count : 0;
    // Source bytes: one contiguous area as large as the records.
    std::vector<BYTE> source(static_cast<std::size_t>(count) * 212 + 212, 1);
    BYTE snapshot[1024];
    for (auto _ : state) {
        BYTE* out = buffer.data() + 704;
        std::memcpy(buffer.data(), source.data(), 704);
        for (int i = 0; i < count; ++i) {
            std::memcpy(snapshot, source.data() + 212 * static_cast<std::size_t>(i), 212);
            benchmark::DoNotOptimize(snapshot);
            std::memcpy(out, snapshot, instanceBytes);
            out += instanceBytes;
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    state.counters["ns_per_instance"] = benchmark::Counter(
        static_cast<double>(count) * state.iterations(),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
    state.SetComplexityN(count);
}

// A sample that asks only for other objects' indices (processor, memory):
// the live blocks are there, but nothing of ours is requested.
void BM_CollectNotRequested(benchmark::State& state) {
    Published published(100);
    std::vector<BYTE> buffer(65536);
    CollectOnce(buffer);
    for (auto _ : state) benchmark::DoNotOptimize(CollectOnce(buffer, u"238 4"));
    ClosePerfMon();
}

// A sample with no provider: the object described from the registry's "Map".
void BM_CollectFromRegisteredMap(benchmark::State& state) {
    using namespace vz::plat;
    vz::test::ResetMachine();
    HKEY key = nullptr;
    RegCreateKeyExW(HKeyLocalMachine(),
                    u"SYSTEM\\CurrentControlSet\\Services\\Quorvane Server ITA\\Performance", 0,
                    nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
    RegCloseKey(key);
    ATL::CPerfMon& monitor = *vz::PerfMonitorList[0];
    if (vz::Failed(monitor.BuildObjectMap(0, ThisModule(), nullptr)) ||
        vz::Failed(monitor.WriteRegisteredMap()))
        std::abort();
    monitor.ClearObjectMap();
    std::vector<BYTE> buffer(65536);
    const bool reload = state.range(0) != 0;
    for (auto _ : state) {
        if (reload) ClosePerfMon();  // every sample reads "Map" again
        benchmark::DoNotOptimize(CollectOnce(buffer));
    }
    ClosePerfMon();
}

// Opening block 0 and rebuilding the map from it, per sample.
void BM_RebuildFromBlockZero(benchmark::State& state) {
    Published published(1);
    std::vector<BYTE> buffer(65536);
    for (auto _ : state) {
        ClosePerfMon();
        benchmark::DoNotOptimize(CollectOnce(buffer));
    }
    ClosePerfMon();
}

BENCHMARK(BM_Collect)->Arg(1)->Arg(100)->Arg(1000)->Arg(10000)->Arg(100000)
    ->Unit(benchmark::kMicrosecond)->Complexity(benchmark::oN);
BENCHMARK(BM_CopyBaseline)->Arg(1)->Arg(100)->Arg(1000)->Arg(10000)->Arg(100000)
    ->Unit(benchmark::kMicrosecond)->Complexity(benchmark::oN);
BENCHMARK(BM_CollectNotRequested)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CollectFromRegisteredMap)->ArgName("reload")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RebuildFromBlockZero)->Unit(benchmark::kMicrosecond);

}  // namespace
