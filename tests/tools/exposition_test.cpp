// The exporter's metric contract, checked on the bytes of the exposition:
// fixed English names by counter place, base units, the `kind` and `server`
// labels, unique and escaped instance names, localized HELP, both formats.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "exporter/exposition.h"
#include "exporter/metric_name.h"

namespace {

using namespace qvperf;

// The table's first `counters` counters, as registration numbers them;
// counter i of instance k holds values[k][i].
PerfObject MakeObject(const std::vector<std::pair<std::string, std::vector<std::uint64_t>>>& rows,
                      std::size_t counters = 16) {
    PerfObject object;
    object.nameIndex = 1848;
    object.counters.resize(counters);
    for (std::size_t i = 0; i < counters; ++i)
        object.counters[i] = {object.nameIndex + quorvane::TitleOffsetOf(i), 0, 0, 100,
                              quorvane::kCounters[i].counterType, 4, 8 + 4 * static_cast<std::uint32_t>(i)};
    for (const auto& row : rows) {
        Instance instance;
        instance.name = row.first;
        for (std::uint64_t v : row.second) instance.values.push_back({true, v, ""});
        object.instances.push_back(instance);
    }
    return object;
}

std::vector<std::uint64_t> Values(std::uint64_t base) {
    std::vector<std::uint64_t> v;
    for (std::uint64_t i = 0; i < 16; ++i) v.push_back(base + i);
    return v;
}

std::string Expose(const PerfObject* object, ExpositionFormat format = ExpositionFormat::kPrometheusText,
                   ScrapeStatus status = {}) {
    std::vector<CounterText> texts(16);
    texts[0] = {"Accessi alla cache %", "Percentuale di accessi \"riusciti\"\\ alla cache"};
    texts[8] = {"Client ODBC/JDBC", "Numero di client ODBC/JDBC collegati."};
    std::string out;
    AppendExposition(object, texts, status, format, &out);
    return out;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Whether `text` has the line `line` (with `prefix`, a line beginning with it).
bool HasLine(const std::string& text, const std::string& line, bool prefix = false) {
    return ("\n" + text).find("\n" + line + (prefix ? "" : "\n")) != std::string::npos;
}

// Each row expects its exact line in `text`, or, when absent, no line beginning with it.
struct LineCase {
    const std::string& text;
    std::string line;
    bool present;
};
void ExpectLines(std::initializer_list<LineCase> cases) {
    for (const LineCase& c : cases) EXPECT_EQ(HasLine(c.text, c.line, !c.present), c.present) << c.line;
}

TEST(Exposition, ValuesInBaseUnitsWithKindAndServerLabels) {
    std::vector<std::uint64_t> v(16, 0);
    v[1] = 5;    // % Cache non salvata
    v[2] = 3;    // Lettura KB/sec disco
    v[6] = 1;    // Ingresso KB/sec rete
    v[8] = 7;    // Client ODBC/JDBC
    v[10] = 4;   // Client Formweave
    v[13] = 250; // Tempo trascorso/chiamata: no unit, unchanged
    // Percentages become exact ratios: instance pN holds N in "Accessi alla cache %".
    const std::pair<std::uint64_t, const char*> ratios[] = {
        {0, "0"}, {5, "0.05"}, {50, "0.5"}, {93, "0.93"}, {100, "1"}, {250, "2.5"}, {101, "1.01"}};
    std::vector<std::pair<std::string, std::vector<std::uint64_t>>> rows = {{"Quorvane01", v}};
    for (const auto& ratio : ratios) {
        v[0] = ratio.first;
        rows.push_back({"p" + std::to_string(ratio.first), v});
    }
    const PerfObject object = MakeObject(rows);
    const std::string text = Expose(&object);
    ExpectLines({
        {text, "quorvane_cache_hit_ratio{server=\"Quorvane01\"} 0", true},
        {text, "quorvane_cache_unsaved_ratio{server=\"Quorvane01\"} 0.05", true},
        {text, "quorvane_disk_read_bytes_per_second{server=\"Quorvane01\"} 3072", true},
        {text, "quorvane_network_received_bytes_per_second{server=\"Quorvane01\"} 1024", true},
        {text, "quorvane_connected_clients{kind=\"quorvane_pro\",server=\"Quorvane01\"} 0", true},
        {text, "quorvane_connected_clients{kind=\"odbc_jdbc\",server=\"Quorvane01\"} 7", true},
        {text, "quorvane_connected_clients{kind=\"formweave\",server=\"Quorvane01\"} 4", true},
        {text, "quorvane_remote_call_elapsed_time{server=\"Quorvane01\"} 250", true},
        {text, "quorvane_exporter_instances 8", true},
    });
    for (const auto& ratio : ratios)
        EXPECT_TRUE(HasLine(text, "quorvane_cache_hit_ratio{server=\"p" + std::to_string(ratio.first) +
                                      "\"} " + ratio.second))
            << ratio.first;
}

TEST(Exposition, FamiliesWholeSeriesUniqueNamesEscapedHelpLocalized) {
    std::vector<std::pair<std::string, std::vector<std::uint64_t>>> rows;
    for (const char* name : {"dup#2", "dup", "", "dup", "dup", "dup#1", "a\"b\\c\nd"})
        rows.push_back({name, Values(0)});
    const PerfObject object = MakeObject(rows);
    const std::string text = Expose(&object);
    for (const char* server : {"dup#2", "dup", "", "dup#1", "dup#3", "dup#1#1", "a\\\"b\\\\c\\nd"})
        EXPECT_TRUE(HasLine(text, std::string("quorvane_open_databases{server=\"") + server + "\"} 4"))
            << server;
    EXPECT_TRUE(HasLine(text, "# HELP quorvane_cache_hit_ratio Percentuale di accessi \"riusciti\"\\\\ alla cache"));
    EXPECT_NE(text.find("# HELP quorvane_connected_clients kind=quorvane_pro: Client Quorvane Pro "
                        "kind=odbc_jdbc: Numero di client ODBC/JDBC collegati. kind=velopress:"),
              std::string::npos);
    // Every sample follows the TYPE of its own family; no two series alike.
    std::string families, current;
    std::set<std::string> series;
    for (const std::string& line : Lines(text)) {
        if (line.rfind("# TYPE ", 0) == 0) {
            current = line.substr(7, line.find(' ', 7) - 7);
            families += current + " ";
        } else if (line[0] != '#') {
            EXPECT_EQ(line.substr(0, line.find_first_of("{ ")), current) << line;
            EXPECT_TRUE(series.insert(line.substr(0, line.rfind(' '))).second) << line;
        }
    }
    EXPECT_EQ(series.size(), 7u * 16 + 6);  // and the six of the exporter
    // Fixed English names in the counters' order, each family once, then the exporter's.
    EXPECT_EQ(families,
              "quorvane_cache_hit_ratio quorvane_cache_unsaved_ratio quorvane_disk_read_bytes_per_second "
              "quorvane_disk_written_bytes_per_second quorvane_open_databases quorvane_connected_clients "
              "quorvane_network_received_bytes_per_second quorvane_network_sent_bytes_per_second "
              "quorvane_remote_calls_per_second quorvane_remote_calls_in_progress "
              "quorvane_remote_call_elapsed_time quorvane_remote_call_wait_time "
              "quorvane_remote_call_io_time quorvane_server_up quorvane_exporter_collection_success "
              "quorvane_exporter_counters_disabled quorvane_exporter_instances "
              "quorvane_exporter_build_info quorvane_exporter_scrape_duration_seconds ");
}

// OpenMetrics ends in # EOF and escapes the double quote in HELP too; the
// process metrics keep the Prometheus client libraries' names; in OpenMetrics
// a counter's family drops _total and a name ending in a unit gets its UNIT
// line (ratios, bytes, seconds; bytes per second is no base unit).
TEST(Exposition, FormatsUnitsProcessAndSelfMetrics) {
    ScrapeStatus status;
    status.process = ProcessMetrics{1.5, 4096, 8192, 1796671215.25, 7, -1};
    const PerfObject object = MakeObject({{"x", Values(1)}});
    const std::string text = Expose(&object, ExpositionFormat::kPrometheusText, status);
    const std::string open = Expose(&object, ExpositionFormat::kOpenMetrics, status);
    const std::string plain = Expose(&object);
    status = {};
    status.countersDisabled = true;
    const std::string none = Expose(nullptr, ExpositionFormat::kPrometheusText, status);
    // More of a disabled library's exposition in the exporter_cycle test.
    ExpectLines({
        {text, "# TYPE process_cpu_seconds_total counter", true},
        {text, "process_cpu_seconds_total 1.5", true},
        {text, "process_resident_memory_bytes 4096", true},
        {text, "process_virtual_memory_bytes 8192", true},
        {text, "process_start_time_seconds 1796671215.25", true},
        {text, "process_open_fds 7", true},
        {text, "process_max_fds", false},  // no limit to report
        {text, "# UNIT", false},
        {text, "# EOF", false},
        {plain, "process_", false},  // none read
        {open, "# HELP quorvane_cache_hit_ratio Percentuale di accessi \\\"riusciti\\\"\\\\ alla cache", true},
        {open, "# TYPE process_cpu_seconds counter", true},
        {open, "# UNIT process_cpu_seconds seconds", true},
        {open, "process_cpu_seconds_total 1.5", true},
        {open, "# UNIT process_resident_memory_bytes bytes", true},
        {open, "# UNIT process_virtual_memory_bytes bytes", true},
        {open, "# UNIT process_start_time_seconds seconds", true},
        {open, "# UNIT quorvane_exporter_scrape_duration_seconds seconds", true},
        {open, "# UNIT quorvane_cache_hit_ratio ratio", true},
        {open, "# UNIT quorvane_cache_unsaved_ratio ratio", true},
        {open, "# UNIT quorvane_disk_read_bytes_per_second", false},
        {open, "# UNIT quorvane_remote_call_elapsed_time", false},
        {none, "quorvane_cache", false},
        {none, "quorvane_server_up 0", true},
        {none, "quorvane_exporter_collection_success 0", true},
        {none, "quorvane_exporter_instances 0", true},
    });
    EXPECT_NE(none.find("\nquorvane_exporter_scrape_duration_seconds "), std::string::npos);
    EXPECT_EQ(open.substr(open.size() - 6), "# EOF\n");
    // Every UNIT line follows its family's TYPE line.
    const std::vector<std::string> lines = Lines(open);
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].rfind("# UNIT ", 0) == 0) {
            const std::string family = lines[i].substr(7, lines[i].rfind(' ') - 7);
            EXPECT_EQ(lines[i - 1].rfind("# TYPE " + family + " ", 0), 0u) << lines[i];
        }
    EXPECT_EQ(FormatForAccept("application/openmetrics-text; version=1.0.0,text/plain;q=0.5"),
              ExpositionFormat::kOpenMetrics);  // no Accept header: the endpoint test
}

// Counters are known by their title index and type, not by their place: an
// instance missing values, a counter of another type, one beyond the table
// and a repeated one get no metric, and the others keep theirs.
TEST(Exposition, OnlyKnownCountersWithValuesAreExposed) {
    PerfObject shorter = MakeObject({{"x", {1, 2, 3}}, {"y", {4}}}, 3);
    shorter.instances[1].values.push_back({false, 0, "text"});
    const std::string text = Expose(&shorter);
    PerfObject changed = MakeObject({{"x", {1, 2, 3, 4, 5}}}, 3);
    changed.counters[1].type = 0x00010100;
    changed.counters.push_back(changed.counters[2]);
    changed.counters.push_back(changed.counters[0]);
    changed.counters.back().nameIndex = changed.nameIndex + quorvane::TitleOffsetOf(16);
    std::swap(changed.counters[0], changed.counters[2]);
    const std::string relabeled = Expose(&changed);
    ExpectLines({
        {text, "quorvane_disk_read_bytes_per_second{server=\"x\"} 3072", true},
        {text, "quorvane_disk_read_bytes_per_second{server=\"y\"}", false},
        {text, "quorvane_cache_unsaved_ratio{server=\"y\"}", false},
        {text, "quorvane_open_databases", false},
        {text, "quorvane_exporter_unknown_counters", false},
        {relabeled, "quorvane_cache_hit_ratio{server=\"x\"} 0.03", true},
        {relabeled, "quorvane_disk_read_bytes_per_second{server=\"x\"} 1024", true},
        {relabeled, "quorvane_cache_unsaved_ratio", false},
        {relabeled, "quorvane_exporter_unknown_counters 3", true},
    });
}

}  // namespace
