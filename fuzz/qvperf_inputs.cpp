// What qvperf takes from outside: the bytes a (possibly hostile) library
// returns from Collect, perflib's title pair lists and the counter paths of its
// command line, on through every output format and the exporter's exposition.
// Decoding must stay inside the buffer and allocate no more than a small
// multiple of it.
// Input: [object count][pair-list length][counter path length][pair list]
//        [counter path][Collect bytes].
#include <sanitizer/allocator_interface.h>

#include <cstdint>
#include <string>
#include <vector>

#include "exporter/exposition.h"
#include "fuzz_support.h"
#include "reader/title_names.h"
#include "viewer/counter_path.h"
#include "viewer/sample.h"

namespace {

// Bytes allocated while counting is on (malloc hooks of the sanitizer runtime).
std::size_t g_allocated = 0;
bool g_counting = false;

void OnMalloc(const volatile void*, std::size_t size) {
    if (g_counting) g_allocated += size;
}
void OnFree(const volatile void*) {}

// What decoding may allocate for `bytes` of Collect data: the decoded values
// are charged 4 bytes each against the buffer, and take some 50 bytes each.
std::size_t DecodeAllowance(std::size_t bytes) { return 32 * bytes + 4096; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vz::fuzz::Input in(data, size);
    const std::uint32_t objectCount = in.Byte() % 8;
    const std::size_t pairBytes = in.Byte() * 4u;
    const std::size_t pathBytes = in.Byte();
    const std::vector<std::uint8_t> pairs = in.Bytes(pairBytes);
    const std::vector<std::uint8_t> pathBytesRead = in.Bytes(pathBytes);
    const std::vector<std::uint8_t> collected = in.Bytes(in.Left());  // exact size for ASan

    g_allocated = 0;
    g_counting = true;
    const qvperf::DecodeResult decoded =
        qvperf::DecodePerfData(collected.data(), collected.size(), objectCount);
    g_counting = false;
    if (g_allocated > DecodeAllowance(collected.size())) __builtin_trap();

    std::u16string raw(pairs.size() / 2, u'\0');
    for (std::size_t i = 0; i < raw.size(); ++i)
        raw[i] = static_cast<char16_t>(pairs[2 * i] | (pairs[2 * i + 1] << 8));
    const std::map<std::uint32_t, std::string> names = qvperf::TitleNames::ParsePairs(raw);

    qvperf::CounterPath path;
    std::string why;
    const std::string pathText(pathBytesRead.begin(), pathBytesRead.end());
    const bool pathParsed = qvperf::ParseCounterPath(pathText, &path, &why);
    if (!pathParsed && why.empty()) __builtin_trap();  // a refusal always says why

    // Rows as qvperf builds them, names from the parsed pair list.
    auto name = [&](std::uint32_t index) {
        auto it = names.find(index);
        return it != names.end() ? it->second : std::to_string(index);
    };
    qvperf::Sample sample;
    for (const qvperf::PerfObject& object : decoded.objects)
        for (const qvperf::Instance& instance : object.instances)
            for (std::size_t i = 0; i < object.counters.size() && i < instance.values.size(); ++i) {
                const qvperf::CounterValue& value = instance.values[i];
                const qvperf::SampleRow row{name(object.nameIndex), instance.name,
                                            name(object.counters[i].nameIndex), value.numeric,
                                            value.number, value.text};
                if (!pathParsed || qvperf::PathSelects(path, row.object, row.instance, row.counter))
                    sample.rows.push_back(row);
            }
    for (const auto& entry : names) {  // names no decoded object used
        sample.rows.push_back({entry.second, entry.second, entry.second, true, 0, {}});
        if (sample.rows.size() > 64) break;
    }
    qvperf::FormatTable(sample);
    const std::string csv = qvperf::FormatCsv(sample, true);
    const std::string json = qvperf::FormatJsonLine(sample);
    if (json.empty() || json.back() != '\n' || csv.empty()) __builtin_trap();

    // The exporter's exposition of every decoded object, in both formats.
    for (const qvperf::PerfObject& object : decoded.objects) {
        std::vector<qvperf::CounterText> texts;
        for (const qvperf::CounterDefinition& counter : object.counters)
            texts.push_back({name(counter.nameIndex), name(counter.helpIndex)});
        qvperf::ScrapeStatus status;
        status.collected = status.serverUp = true;
        std::string open, text;
        qvperf::AppendExposition(&object, texts, status, qvperf::ExpositionFormat::kOpenMetrics, &open);
        qvperf::AppendExposition(&object, texts, status, qvperf::ExpositionFormat::kPrometheusText,
                                 &text);
        if (open.size() < 6 || open.compare(open.size() - 6, 6, "# EOF\n") != 0) __builtin_trap();
        if (text.empty() || text.back() != '\n') __builtin_trap();
    }
    return 0;
}
