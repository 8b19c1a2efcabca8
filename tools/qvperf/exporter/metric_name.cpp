#include "exporter/metric_name.h"

namespace qvperf {

namespace {

// The server computes every value itself: percentages 0..100, throughput in
// KB per second, calls per second, and times per call in a unit it does not
// name (so none is invented here). The four client counters share one metric.
const CounterMetric kCounterMetrics[kCounterMetricCount] = {
    {"quorvane_cache_hit_ratio", nullptr, MetricScale::kPercentToRatio, "Accessi alla cache %"},
    {"quorvane_cache_unsaved_ratio", nullptr, MetricScale::kPercentToRatio, "% Cache non salvata"},
    {"quorvane_disk_read_bytes_per_second", nullptr, MetricScale::kKilobytesToBytes,
     "Lettura KB/sec disco"},
    {"quorvane_disk_written_bytes_per_second", nullptr, MetricScale::kKilobytesToBytes,
     "Scrittura KB/sec disco"},
    {"quorvane_open_databases", nullptr, MetricScale::kAsIs, "Database aperti"},
    {"quorvane_connected_clients", "quorvane_pro", MetricScale::kAsIs, "Client Quorvane Pro"},
    {"quorvane_network_received_bytes_per_second", nullptr, MetricScale::kKilobytesToBytes,
     "Ingresso KB/sec rete"},
    {"quorvane_network_sent_bytes_per_second", nullptr, MetricScale::kKilobytesToBytes,
     "Uscita KB/sec rete"},
    {"quorvane_connected_clients", "odbc_jdbc", MetricScale::kAsIs, "Client ODBC/JDBC"},
    {"quorvane_connected_clients", "velopress", MetricScale::kAsIs, "Client Velopress"},
    {"quorvane_connected_clients", "formweave", MetricScale::kAsIs, "Client Formweave"},
    {"quorvane_remote_calls_per_second", nullptr, MetricScale::kAsIs, "Chiamate remote/sec"},
    {"quorvane_remote_calls_in_progress", nullptr, MetricScale::kAsIs, "Chiamate remote in corso"},
    {"quorvane_remote_call_elapsed_time", nullptr, MetricScale::kAsIs, "Tempo trascorso/chiamata"},
    {"quorvane_remote_call_wait_time", nullptr, MetricScale::kAsIs, "Tempo di attesa/chiamata"},
    {"quorvane_remote_call_io_time", nullptr, MetricScale::kAsIs, "Tempo IO/chiamata"},
};

}  // namespace

const CounterMetric* CounterMetricAt(std::size_t place) {
    return place < kCounterMetricCount ? &kCounterMetrics[place] : nullptr;
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
