#include "exporter/exposition.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <unordered_set>

#include "exporter/metric_name.h"

#ifndef QVPERF_VERSION
#define QVPERF_VERSION "dev"
#endif

namespace qvperf {

namespace {

void AppendNumber(std::uint64_t value, std::string* out) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out->append(digits, end);
}

// The value in the metric's base unit, written exactly: a percentage p becomes
// the ratio p/100 with at most two decimals.
void AppendScaled(std::uint64_t value, MetricScale scale, std::string* out) {
    switch (scale) {
        case MetricScale::kAsIs:
            AppendNumber(value, out);
            return;
        case MetricScale::kKilobytesToBytes:
            AppendNumber(value * 1024u, out);
            return;
        case MetricScale::kPercentToRatio: {
            AppendNumber(value / 100, out);
            const unsigned hundredths = static_cast<unsigned>(value % 100);
            if (hundredths == 0) return;
            out->push_back('.');
            out->push_back(static_cast<char>('0' + hundredths / 10));
            if (hundredths % 10 != 0) out->push_back(static_cast<char>('0' + hundredths % 10));
            return;
        }
    }
}

void AppendFamilyHead(const char* name, const std::string& help, ExpositionFormat format,
                      std::string* out) {
    *out += "# HELP ";
    *out += name;
    *out += ' ';
    *out += EscapeMetricText(help, format == ExpositionFormat::kOpenMetrics);
    *out += "\n# TYPE ";
    *out += name;
    *out += " gauge\n";
}

void AppendGauge(const char* name, const char* help, double value, ExpositionFormat format,
                 std::string* out) {
    AppendFamilyHead(name, help, format, out);
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    *out += name;
    *out += ' ';
    out->append(digits, end);
    *out += '\n';
}

// HELP of a metric: the localized help of its counter; for a metric made of
// several counters, each kind with its counter's help.
std::string FamilyHelp(const std::vector<const CounterMetric*>& metrics, std::size_t firstPlace,
                       const std::vector<CounterText>& texts) {
    const CounterMetric* first = metrics[firstPlace];
    auto textOf = [&](std::size_t place) {
        if (place < texts.size() && !texts[place].help.empty()) return texts[place].help;
        return std::string(metrics[place]->name);
    };
    if (first->kind == nullptr) return textOf(firstPlace);
    std::string help;
    for (std::size_t place = firstPlace; place < metrics.size(); ++place) {
        const CounterMetric* m = metrics[place];
        if (m == nullptr || std::string(m->metric) != first->metric) continue;
        if (!help.empty()) help += ' ';
        help += std::string("kind=") + m->kind + ": " + textOf(place);
    }
    return help;
}

// Returns how many counters the metric table does not know.
std::size_t AppendObjectFamilies(const PerfObject& object, const std::vector<CounterText>& texts,
                                 ExpositionFormat format, std::string* out) {
    // Each instance's label text, built once: server="name"}
    std::vector<std::string> labels;
    labels.reserve(object.instances.size());
    for (const std::string& name : UniqueInstanceNames(object.instances))
        labels.push_back("server=\"" + EscapeMetricText(name, true) + "\"} ");
    const std::vector<const CounterMetric*> metrics = CounterMetricsOf(object);
    const std::size_t places = metrics.size();
    std::unordered_set<std::string> written;
    for (std::size_t first = 0; first < places; ++first) {
        const CounterMetric* family = metrics[first];
        if (family == nullptr || !written.insert(family->metric).second) continue;
        AppendFamilyHead(family->metric, FamilyHelp(metrics, first, texts), format, out);
        for (std::size_t place = first; place < places; ++place) {
            const CounterMetric* metric = metrics[place];
            if (metric == nullptr || std::string(metric->metric) != family->metric) continue;
            std::string prefix = std::string(metric->metric) + '{';
            if (metric->kind != nullptr) prefix += std::string("kind=\"") + metric->kind + "\",";
            for (std::size_t i = 0; i < object.instances.size(); ++i) {
                const Instance& instance = object.instances[i];
                if (place >= instance.values.size() || !instance.values[place].numeric) continue;
                *out += prefix;
                *out += labels[i];
                AppendScaled(instance.values[place].number, metric->scale, out);
                *out += '\n';
            }
        }
    }
    return static_cast<std::size_t>(std::count(metrics.begin(), metrics.end(), nullptr));
}

}  // namespace

ExpositionFormat FormatForAccept(const std::string& accept) {
    return accept.find("application/openmetrics-text") != std::string::npos
               ? ExpositionFormat::kOpenMetrics
               : ExpositionFormat::kPrometheusText;
}

const char* ContentType(ExpositionFormat format) {
    return format == ExpositionFormat::kOpenMetrics
               ? "application/openmetrics-text; version=1.0.0; charset=utf-8"
               : "text/plain; version=0.0.4; charset=utf-8";
}

std::vector<std::string> UniqueInstanceNames(const std::vector<Instance>& instances) {
    std::vector<std::string> names;
    names.reserve(instances.size());
    std::unordered_set<std::string> taken;
    taken.reserve(instances.size() * 2);
    for (const Instance& instance : instances) {
        std::string name = instance.name;
        for (unsigned n = 1; !taken.insert(name).second; ++n) name = instance.name + '#' + std::to_string(n);
        names.push_back(std::move(name));
    }
    return names;
}

void AppendExposition(const PerfObject* object, const std::vector<CounterText>& texts,
                      const ScrapeStatus& status, ExpositionFormat format, std::string* out) {
    std::size_t unknownCounters = 0;
    if (object != nullptr) {
        // About 70 bytes per series.
        out->reserve(out->size() + 4096 + object->instances.size() * object->counters.size() * 72);
        unknownCounters = AppendObjectFamilies(*object, texts, format, out);
    }
    // Only when it happens: a library whose object differs from the table.
    if (unknownCounters != 0)
        AppendGauge("quorvane_exporter_unknown_counters",
                    "Counters of the object that the metric table does not know; not exported.",
                    static_cast<double>(unknownCounters), format, out);
    AppendGauge("quorvane_server_up",
                "1 when a Quorvane server publishes its statistics, else 0.",
                status.serverUp ? 1 : 0, format, out);
    AppendGauge("quorvane_exporter_collection_success",
                "1 when the last collection returned the Quorvane Server 11 object, else 0.",
                status.collected ? 1 : 0, format, out);
    AppendGauge("quorvane_exporter_counters_disabled",
                "1 when Disable Performance Counters is set for the library, else 0.",
                status.countersDisabled ? 1 : 0, format, out);
    AppendGauge("quorvane_exporter_instances", "Instances reported by the last collection.",
                object != nullptr ? static_cast<double>(object->instances.size()) : 0, format,
                out);
    AppendFamilyHead("quorvane_exporter_build_info", "The exporter's version, always 1.", format,
                     out);
    *out += "quorvane_exporter_build_info{version=\"" QVPERF_VERSION "\"} 1\n";
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - status.start;
    AppendGauge("quorvane_exporter_scrape_duration_seconds",
                "Time taken to collect and format this scrape.", elapsed.count(), format, out);
    if (format == ExpositionFormat::kOpenMetrics) *out += "# EOF\n";
}

}  // namespace qvperf
