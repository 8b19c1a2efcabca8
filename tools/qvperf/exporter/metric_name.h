// The exporter's metric contract: the sixteen counters of "Quorvane Server 11"
// by their place in the object, each with a fixed English metric name, a label
// where several counters form one metric, and the conversion to base units.
// Localized names and title indices never enter a metric name, so the names
// are the same on every machine and in every language.
#pragma once
#include <cstddef>
#include <string>

namespace qvperf {

enum class MetricScale {
    kAsIs,              // counts, calls per second, times whose unit the server does not say
    kPercentToRatio,    // 0..100 -> 0..1
    kKilobytesToBytes,  // KB/sec -> bytes/sec (1 KB = 1024 bytes)
};

struct CounterMetric {
    const char* name;       // "quorvane_..." in snake_case
    const char* kindLabel;  // value of label `kind`, or nullptr for a metric without it
    MetricScale scale;
    const char* source;     // the counter's (Italian) name, for documentation and tests
};

constexpr std::size_t kCounterMetricCount = 16;

// The metric of the counter at `place` (0-based, in the object's counter order),
// or nullptr beyond the table.
const CounterMetric* CounterMetricAt(std::size_t place);

// Backslash and newline escaped (HELP text); `quotes` also escapes '"' (label
// values, and HELP text in OpenMetrics).
std::string EscapeMetricText(const std::string& text, bool quotes);

}  // namespace qvperf
