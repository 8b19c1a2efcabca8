// The provider's update path, as a server's worker threads drive it: setting
// and adding to one counter, on one thread, on two threads updating two
// instances, and on two threads adding to the same counter. Each runs beside
// the floor: a plain atomic store or add of the same width to memory of the
// same layout, in the same run.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>

#include "vudozid_provider.h"

namespace {

constexpr std::uint32_t kLargeRawCount = 0x00010100u;  // PERF_COUNTER_LARGE_RAWCOUNT

// One publisher with a 32-bit and a 64-bit counter and two instances, shared
// by every benchmark of the program.
struct UpdatePublisher {
    vzp_publisher* publisher = nullptr;
    vzp_instance instances[2] = {};
    UpdatePublisher() {
        static const vzp_counter counters[2] = {{"calls", 0x00010000u /* RAWCOUNT */, 100, 0},
                                                {"bytes", kLargeRawCount, 100, 0}};
        vzp_object object = VZP_OBJECT_INIT;
        object.id = 4;
        object.name = "Update benchmark";
        object.max_instance_name_length = 16;
        object.counters = counters;
        object.counter_count = 2;
        vzp_open("Update Benchmark", &object, &publisher);
        vzp_add_instance(publisher, "first", &instances[0]);
        vzp_add_instance(publisher, "second", &instances[1]);
    }
};

UpdatePublisher& Shared() {
    static UpdatePublisher shared;
    return shared;
}

// The floor's memory: two words 212 bytes apart, as two records' values are.
struct alignas(64) FloorWords {
    std::atomic<std::uint64_t> first{0};
    char gap[212 - 8];
    std::atomic<std::uint64_t> second{0};
};
FloorWords g_floor;

std::atomic<std::uint64_t>& FloorWord(int thread) { return thread == 0 ? g_floor.first : g_floor.second; }
std::atomic<std::uint32_t>& FloorWord32(int thread) {
    return *reinterpret_cast<std::atomic<std::uint32_t>*>(&FloorWord(thread));
}

// counter 0: 32-bit, counter 1: 64-bit. range(0) picks it.
void BM_SetValue(benchmark::State& state) {
    UpdatePublisher& p = Shared();
    const vzp_instance instance = p.instances[state.thread_index() % 2];
    const std::uint32_t counter = static_cast<std::uint32_t>(state.range(0));
    std::uint64_t value = 0;
    for (auto _ : state) {
        vzp_status status = vzp_set_value(p.publisher, instance, counter, ++value & 0xFFFFFFFFu);
        benchmark::DoNotOptimize(status);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_AtomicStore(benchmark::State& state) {
    const int thread = state.thread_index() % 2;
    std::uint64_t value = 0;
    for (auto _ : state) {
        if (state.range(0) == 0)
            FloorWord32(thread).store(static_cast<std::uint32_t>(++value), std::memory_order_relaxed);
        else
            FloorWord(thread).store(++value, std::memory_order_relaxed);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

// range(1) 0: each thread its own instance; 1: every thread the first one.
void BM_Add(benchmark::State& state) {
    UpdatePublisher& p = Shared();
    const vzp_instance instance = p.instances[state.range(1) == 0 ? state.thread_index() % 2 : 0];
    const std::uint32_t counter = static_cast<std::uint32_t>(state.range(0));
    for (auto _ : state) {
        vzp_status status = vzp_add(p.publisher, instance, counter, 1);
        benchmark::DoNotOptimize(status);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_AtomicAdd(benchmark::State& state) {
    const int thread = state.range(1) == 0 ? state.thread_index() % 2 : 0;
    for (auto _ : state) {
        if (state.range(0) == 0)
            FloorWord32(thread).fetch_add(1, std::memory_order_relaxed);
        else
            FloorWord(thread).fetch_add(1, std::memory_order_relaxed);
    }
    state.SetItemsProcessed(state.iterations());
}

// One thread, then two threads on two instances (items_per_second is their
// sum: the ratio of the two rows is the scaling), for both widths.
BENCHMARK(BM_SetValue)->ArgName("bits64")->Arg(0)->Arg(1)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_AtomicStore)->ArgName("bits64")->Arg(0)->Arg(1)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_Add)->ArgNames({"bits64", "one_counter"})->Args({0, 0})->Args({1, 0})->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_AtomicAdd)->ArgNames({"bits64", "one_counter"})->Args({0, 0})->Args({1, 0})->Threads(1)->Threads(2)->UseRealTime();
// Two threads adding to the same counter.
BENCHMARK(BM_Add)->ArgNames({"bits64", "one_counter"})->Args({0, 1})->Args({1, 1})->Threads(2)->UseRealTime();
BENCHMARK(BM_AtomicAdd)->ArgNames({"bits64", "one_counter"})->Args({0, 1})->Args({1, 1})->Threads(2)->UseRealTime();

}  // namespace
