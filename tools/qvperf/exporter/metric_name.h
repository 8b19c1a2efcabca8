// The exporter's metric contract: every counter of "Quorvane Server 11" has a
// fixed English metric name, a label where several counters form one metric,
// and a conversion to base units, all from the published object's table
// (server_object.h). A counter is found there by its identity in perflib's
// data, never by its place or its localized name, so the names are the same on
// every machine and in every language.
#pragma once
#include <string>
#include <vector>

#include "reader/perf_decoder.h"
#include "server_object.h"

namespace qvperf {

using quorvane::MetricScale;
// A counter's row of the table: `metric`, `kind` (the label, or nullptr),
// `scale`, and `name`, its display name.
using CounterMetric = quorvane::PublishedCounter;

// The row of each counter of `object`, in the object's order, found by the
// counter's name title index less the object's and by its type. nullptr for a
// counter the table does not know: it is named once on standard error and
// gets no metric, rather than another counter's.
std::vector<const CounterMetric*> CounterMetricsOf(const PerfObject& object);

// Backslash and newline escaped (HELP text); `quotes` also escapes '"' (label
// values, and HELP text in OpenMetrics).
std::string EscapeMetricText(const std::string& text, bool quotes);

}  // namespace qvperf
