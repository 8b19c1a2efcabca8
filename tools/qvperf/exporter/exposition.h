// The Prometheus exposition of one sample of "Quorvane Server 11": the metric
// families of the fixed metric table (one series per instance, label `server`)
// followed by the exporter's own metrics and its process's, in the Prometheus
// text format 0.0.4 or in OpenMetrics 1.0 (with a UNIT line for every metric
// whose name ends in a unit: _seconds, _bytes, _ratio).
#pragma once
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "exporter/process_metrics.h"
#include "reader/instance_names.h"
#include "reader/perf_decoder.h"

namespace qvperf {

enum class ExpositionFormat { kPrometheusText, kOpenMetrics };

// OpenMetrics when the Accept header asks for application/openmetrics-text.
ExpositionFormat FormatForAccept(const std::string& accept);
const char* ContentType(ExpositionFormat format);

// The localized name and help text of each counter, by place in the object.
struct CounterText {
    std::string name;
    std::string help;
};

// What the exporter learned while taking the sample.
struct ScrapeStatus {
    bool collected = false;         // Collect returned the object
    bool serverUp = false;          // a server publishes its statistics
    bool countersDisabled = false;  // "Disable Performance Counters" is set
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::optional<ProcessMetrics> process;  // the exporter's own process_* metrics
};

// Appends the exposition to `out`. `object` may be null (nothing collected).
void AppendExposition(const PerfObject* object, const std::vector<CounterText>& texts,
                      const ScrapeStatus& status, ExpositionFormat format, std::string* out);

}  // namespace qvperf
