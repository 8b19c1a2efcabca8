// Prometheus / OpenMetrics naming: counter names become metric names, texts
// become escaped HELP lines and label values.
#pragma once
#include <string>

namespace qvperf {

// "quorvane_" + the name in lower-case ASCII with accents folded (à -> a,
// è -> e, ...), every other character turned into '_', runs of '_' merged and
// '_' trimmed at both ends: "Accessi alla cache %" -> quorvane_accessi_alla_cache.
std::string MetricName(const std::string& utf8Name);

// Backslash and newline escaped (HELP text); `quotes` also escapes '"' (label).
std::string EscapeMetricText(const std::string& text, bool quotes);

}  // namespace qvperf
