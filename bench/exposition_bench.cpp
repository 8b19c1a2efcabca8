// The exporter's share of a scrape, beside the collection it serves (this file
// is linked into the collect benchmark program, so BM_Collect/10000 runs in
// the same process and run): decoding the Collect buffer, writing the
// exposition of one sample, 16 series per instance, and a whole scrape, plain
// beside gzip.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "exporter/exposition.h"
#include "exporter/gzip.h"
#include "published_instances.h"
#include "reader/perf_decoder.h"

namespace {

using vz::BYTE;
using vz::DWORD;

struct CollectedBuffer {
    std::vector<BYTE> bytes;
    DWORD objects = 0;
    explicit CollectedBuffer(int count) : bytes(static_cast<std::size_t>(count) * 128 + 4096) {
        bytes.resize(vz_bench::CollectOnce(bytes, u"Global", &objects));
    }
};

void BM_DecodeSample(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    vz_bench::Published published(count);
    CollectedBuffer collected(count);
    for (auto _ : state) {
        qvperf::DecodeResult decoded =
            qvperf::DecodePerfData(collected.bytes.data(), collected.bytes.size(), collected.objects);
        benchmark::DoNotOptimize(decoded.objects.data());
    }
    ClosePerfMon();
    state.counters["ns_per_instance"] = benchmark::Counter(
        static_cast<double>(count) * state.iterations(),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_FormatExposition(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    vz_bench::Published published(count);
    CollectedBuffer collected(count);
    ClosePerfMon();
    const qvperf::DecodeResult decoded =
        qvperf::DecodePerfData(collected.bytes.data(), collected.bytes.size(), collected.objects);
    const std::vector<qvperf::CounterText> texts(16, {"Contatore", "Testo di aiuto del contatore."});
    qvperf::ScrapeStatus status;
    status.collected = status.serverUp = true;
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::string text;
        qvperf::AppendExposition(&decoded.objects.at(0), texts, status,
                                 qvperf::ExpositionFormat::kPrometheusText, &text);
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["ns_per_series"] = benchmark::Counter(
        static_cast<double>(count) * 16 * state.iterations(),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["exposition_bytes"] = static_cast<double>(bytes);
}

// What the exporter does for one scrape that no other shares: collect through
// the library, decode, write the exposition and, with gzip=1, compress it.
// Plain and gzip run side by side, so their ratio compares like with like.
void BM_Scrape(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const bool gzip = state.range(1) != 0;
    vz_bench::Published published(count);
    std::vector<BYTE> buffer(static_cast<std::size_t>(count) * 128 + 4096);
    const std::vector<qvperf::CounterText> texts(16, {"Contatore", "Testo di aiuto del contatore."});
    qvperf::ScrapeStatus status;
    status.collected = status.serverUp = true;
    std::size_t bytes = 0;
    for (auto _ : state) {
        DWORD objects = 0;
        const DWORD size = vz_bench::CollectOnce(buffer, u"Global", &objects);
        const qvperf::DecodeResult decoded = qvperf::DecodePerfData(buffer.data(), size, objects);
        std::string text;
        qvperf::AppendExposition(&decoded.objects.at(0), texts, status,
                                 qvperf::ExpositionFormat::kPrometheusText, &text);
        if (gzip) text = qvperf::Gzip(text);
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    ClosePerfMon();
    state.counters["body_bytes"] = static_cast<double>(bytes);
}

BENCHMARK(BM_DecodeSample)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FormatExposition)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scrape)
    ->ArgNames({"instances", "gzip"})
    ->Args({10000, 0})
    ->Args({10000, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace
