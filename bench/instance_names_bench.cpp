// The exposition of one sample whose instances all share one name, beside the
// same sample with distinct names: naming the repeated instances (dup, dup#1,
// dup#2, ...) must cost about what distinct names cost, not grow with the
// square of their number.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "exporter/exposition.h"
#include "reader/perf_decoder.h"

namespace {

// `count` instances of 16 numeric counters, named "dup" or "Quorvane<n>".
qvperf::PerfObject ObjectOf(int count, bool sameName) {
    qvperf::PerfObject object;
    object.counters.resize(16);
    object.instances.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        qvperf::Instance& instance = object.instances[static_cast<std::size_t>(i)];
        instance.name = sameName ? "dup" : "Quorvane" + std::to_string(100000 + i);
        instance.values.resize(16);
        for (unsigned k = 0; k < 16; ++k) {
            instance.values[k].numeric = true;
            instance.values[k].number = static_cast<std::uint64_t>(i) * 16 + k;
        }
    }
    return object;
}

// Argument: 0 distinct names, 1 one name for all.
void BM_ExpositionSameNames(benchmark::State& state) {
    const int count = 20000;
    const qvperf::PerfObject object = ObjectOf(count, state.range(0) != 0);
    const std::vector<qvperf::CounterText> texts(16, {"Contatore", "Testo di aiuto del contatore."});
    qvperf::ScrapeStatus status;
    status.collected = status.serverUp = true;
    for (auto _ : state) {
        std::string text;
        qvperf::AppendExposition(&object, texts, status, qvperf::ExpositionFormat::kPrometheusText,
                                 &text);
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["ns_per_instance"] = benchmark::Counter(
        static_cast<double>(count) * state.iterations(),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_ExpositionSameNames)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
