#include "exporter/metric_name.h"

#include <atomic>
#include <cstdio>
#include <set>
#include <string>
#include <utility>

#include "reader/diagnostics.h"

namespace qvperf {

namespace {

// The table's place of the counter, or kCounterCount.
std::size_t FindPlace(std::uint32_t titleOffset, std::uint32_t type) {
    std::size_t place = 0;
    while (place < quorvane::kCounterCount && quorvane::TitleOffsetOf(place) != titleOffset) ++place;
    if (place < quorvane::kCounterCount && quorvane::kCounters[place].counterType != type)
        return quorvane::kCounterCount;
    return place;
}

// Each unknown counter is named once per process, not at every scrape.
void ReportUnknown(std::uint32_t titleOffset, std::uint32_t type) {
    // A spin lock: the win32-thread MinGW runtime has no std::mutex, and this
    // runs only for counters the table does not know.
    static std::atomic_flag busy = ATOMIC_FLAG_INIT;
    static std::set<std::pair<std::uint32_t, std::uint32_t>> reported;
    while (busy.test_and_set(std::memory_order_acquire)) {
    }
    bool first = true;
    try {
        first = reported.insert({titleOffset, type}).second;
    } catch (...) {
        // Out of memory: name it again rather than never.
    }
    busy.clear(std::memory_order_release);
    if (!first) return;
    char typeHex[16];
    std::snprintf(typeHex, sizeof typeHex, "0x%08x", static_cast<unsigned>(type));
    Warn("the counter with title index offset " + std::to_string(titleOffset) + " and type " +
         typeHex + " is not in the metric table; it is not exported");
}

}  // namespace

std::vector<const CounterMetric*> CounterMetricsOf(const PerfObject& object) {
    std::vector<const CounterMetric*> metrics;
    metrics.reserve(object.counters.size());
    bool taken[quorvane::kCounterCount] = {};  // a second counter of one identity is unknown too
    for (const CounterDefinition& counter : object.counters) {
        const std::uint32_t titleOffset = counter.nameIndex - object.nameIndex;
        const std::size_t place = FindPlace(titleOffset, counter.type);
        if (place == quorvane::kCounterCount || taken[place]) {
            ReportUnknown(titleOffset, counter.type);
            metrics.push_back(nullptr);
            continue;
        }
        taken[place] = true;
        metrics.push_back(&quorvane::kCounters[place]);
    }
    return metrics;
}

std::string EscapeMetricText(const std::string& text, bool quotes) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '"' && quotes)
            out += "\\\"";
        else
            out.push_back(c);
    }
    return out;
}

}  // namespace qvperf
