// The exporter's metric contract, checked on the bytes of the exposition:
// fixed English names by counter place, base units, the `kind` and `server`
// labels, unique and escaped instance names, localized HELP, both formats.
#include <gtest/gtest.h>

#include <map>
#include <regex>
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

bool HasLine(const std::string& text, const std::string& line) {
    for (const std::string& l : Lines(text))
        if (l == line) return true;
    return false;
}

TEST(Exposition, ValuesInBaseUnitsWithKindAndServerLabels) {
    std::vector<std::uint64_t> v(16, 0);
    v[0] = 93;   // Accessi alla cache %
    v[1] = 5;    // % Cache non salvata
    v[2] = 3;    // Lettura KB/sec disco
    v[6] = 1;    // Ingresso KB/sec rete
    v[8] = 7;    // Client ODBC/JDBC
    v[10] = 4;   // Client Formweave
    v[13] = 250; // Tempo trascorso/chiamata: no unit, unchanged
    const PerfObject object = MakeObject({{"Quorvane01", v}});
    const std::string text = Expose(&object);
    const char* expected[] = {
        "quorvane_cache_hit_ratio{server=\"Quorvane01\"} 0.93",
        "quorvane_cache_unsaved_ratio{server=\"Quorvane01\"} 0.05",
        "quorvane_disk_read_bytes_per_second{server=\"Quorvane01\"} 3072",
        "quorvane_network_received_bytes_per_second{server=\"Quorvane01\"} 1024",
        "quorvane_connected_clients{kind=\"quorvane_pro\",server=\"Quorvane01\"} 0",
        "quorvane_connected_clients{kind=\"odbc_jdbc\",server=\"Quorvane01\"} 7",
        "quorvane_connected_clients{kind=\"formweave\",server=\"Quorvane01\"} 4",
        "quorvane_remote_call_elapsed_time{server=\"Quorvane01\"} 250",
        "quorvane_exporter_instances 1",
    };
    for (const char* line : expected) EXPECT_TRUE(HasLine(text, line)) << line << "\n" << text;
}

TEST(Exposition, PercentagesBecomeExactRatios) {
    const std::pair<std::uint64_t, const char*> cases[] = {
        {0, "0"}, {5, "0.05"}, {50, "0.5"}, {93, "0.93"}, {100, "1"}, {250, "2.5"}, {101, "1.01"}};
    for (const auto& c : cases) {
        std::vector<std::uint64_t> v(16, 0);
        v[0] = c.first;
        const PerfObject object = MakeObject({{"a", v}});
        EXPECT_TRUE(HasLine(Expose(&object), std::string("quorvane_cache_hit_ratio{server=\"a\"} ") + c.second))
            << c.first;
    }
}

TEST(Exposition, InstanceNamesLabelledUniqueAndEscaped) {
    const PerfObject object = MakeObject({{"dup", Values(0)},
                                          {"", Values(0)},
                                          {"dup", Values(0)},
                                          {"dup", Values(0)},
                                          {"dup#1", Values(0)},
                                          {"a\"b\\c\nd", Values(0)}});
    const std::string text = Expose(&object);
    for (const char* server : {"dup", "", "dup#1", "dup#2", "dup#1#1", "a\\\"b\\\\c\\nd"})
        EXPECT_TRUE(HasLine(text, std::string("quorvane_open_databases{server=\"") + server + "\"} 4"))
            << server;
    // No two series alike.
    std::set<std::string> series;
    for (const std::string& line : Lines(text)) {
        if (line[0] == '#') continue;
        EXPECT_TRUE(series.insert(line.substr(0, line.rfind(' '))).second) << line;
    }
}

TEST(Exposition, FamiliesAreWholeWithLocalizedHelpAndStableEnglishNames) {
    const PerfObject object = MakeObject({{"x", Values(1)}, {"y", Values(2)}});
    const std::string text = Expose(&object);
    EXPECT_TRUE(HasLine(text, "# HELP quorvane_cache_hit_ratio Percentuale di accessi \"riusciti\"\\\\ alla cache"));
    EXPECT_NE(text.find("# HELP quorvane_connected_clients kind=quorvane_pro: Client Quorvane Pro "
                        "kind=odbc_jdbc: Numero di client ODBC/JDBC collegati. kind=velopress:"),
              std::string::npos);
    // Every sample follows the TYPE of its own family; no family appears twice.
    std::set<std::string> families;
    std::string current;
    std::size_t samples = 0;
    const std::regex name("^[a-z][a-z_]*$");
    std::set<std::string> italian;  // the words of the counters' Italian names
    for (const quorvane::PublishedCounter& counter : quorvane::kCounters) {
        std::istringstream words(counter.name);
        for (std::string w; words >> w;) {
            for (char& c : w) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            italian.insert(w);
        }
    }
    for (const char* shared : {"cache", "database", "client", "quorvane", "pro", "remote", "in"})
        italian.erase(shared);  // the same word in English, or a name
    for (const std::string& line : Lines(text)) {
        if (line.rfind("# TYPE ", 0) == 0) {
            current = line.substr(7, line.find(' ', 7) - 7);
            EXPECT_TRUE(families.insert(current).second) << current;
            EXPECT_TRUE(std::regex_match(current, name)) << current;
            for (const std::string& word : italian)
                EXPECT_EQ(("_" + current + "_").find("_" + word + "_"), std::string::npos) << current;
        } else if (line[0] != '#') {
            EXPECT_EQ(line.substr(0, line.find_first_of("{ ")), current) << line;
            if (line.rfind("quorvane_exporter", 0) != 0 && line.rfind("quorvane_server_up", 0) != 0)
                ++samples;
        }
    }
    EXPECT_EQ(samples, 2u * 16);
    EXPECT_EQ(families.size(), 13u + 6u);  // 13 object metrics, 6 of the exporter
}

TEST(Exposition, FormatsDifferOnlyWhereTheStandardsDo) {
    const PerfObject object = MakeObject({{"x", Values(1)}});
    const std::string text = Expose(&object, ExpositionFormat::kPrometheusText);
    const std::string open = Expose(&object, ExpositionFormat::kOpenMetrics);
    EXPECT_EQ(text.find("# EOF"), std::string::npos);
    ASSERT_GE(open.size(), 6u);
    EXPECT_EQ(open.substr(open.size() - 6), "# EOF\n");
    // OpenMetrics escapes the double quote in HELP too.
    EXPECT_NE(open.find("accessi \\\"riusciti\\\"\\\\ alla"), std::string::npos);
    EXPECT_EQ(FormatForAccept("application/openmetrics-text; version=1.0.0,text/plain;q=0.5"),
              ExpositionFormat::kOpenMetrics);
    EXPECT_EQ(FormatForAccept("text/plain"), ExpositionFormat::kPrometheusText);
    EXPECT_EQ(FormatForAccept(""), ExpositionFormat::kPrometheusText);
}

TEST(Exposition, SelfMetricsWithoutAnObjectAndWithAShortOne) {
    ScrapeStatus status;
    status.countersDisabled = true;
    const std::string none = Expose(nullptr, ExpositionFormat::kPrometheusText, status);
    EXPECT_EQ(none.find("quorvane_cache"), std::string::npos);
    for (const char* line : {"quorvane_server_up 0", "quorvane_exporter_collection_success 0",
                             "quorvane_exporter_counters_disabled 1", "quorvane_exporter_instances 0"})
        EXPECT_TRUE(HasLine(none, line)) << line;
    EXPECT_NE(none.find("quorvane_exporter_build_info{version=\""), std::string::npos);
    EXPECT_NE(none.find("\nquorvane_exporter_scrape_duration_seconds "), std::string::npos);

    // An object with three counters and an instance missing values: only what is there.
    PerfObject shorter = MakeObject({{"x", {1, 2, 3}}, {"y", {4}}}, 3);
    shorter.instances[1].values.push_back({false, 0, "text"});
    const std::string text = Expose(&shorter);
    EXPECT_TRUE(HasLine(text, "quorvane_disk_read_bytes_per_second{server=\"x\"} 3072"));
    EXPECT_EQ(text.find("quorvane_disk_read_bytes_per_second{server=\"y\"}"), std::string::npos);
    EXPECT_EQ(text.find("quorvane_cache_unsaved_ratio{server=\"y\"}"), std::string::npos);
    EXPECT_EQ(text.find("quorvane_open_databases"), std::string::npos);
    EXPECT_EQ(text.find("quorvane_exporter_unknown_counters"), std::string::npos);

    // Counters are known by their title index and type, not by their place: a
    // counter of another type, one beyond the table and a repeated one get no
    // metric, and the others keep theirs.
    PerfObject changed = MakeObject({{"x", {1, 2, 3, 4, 5}}}, 3);
    changed.counters[1].type = 0x00010100;
    changed.counters.push_back(changed.counters[2]);
    changed.counters.push_back(changed.counters[0]);
    changed.counters.back().nameIndex = changed.nameIndex + quorvane::TitleOffsetOf(16);
    std::swap(changed.counters[0], changed.counters[2]);
    const std::string relabeled = Expose(&changed);
    EXPECT_TRUE(HasLine(relabeled, "quorvane_cache_hit_ratio{server=\"x\"} 0.03"));
    EXPECT_TRUE(HasLine(relabeled, "quorvane_disk_read_bytes_per_second{server=\"x\"} 1024"));
    EXPECT_EQ(relabeled.find("quorvane_cache_unsaved_ratio"), std::string::npos);
    EXPECT_TRUE(HasLine(relabeled, "quorvane_exporter_unknown_counters 3"));
}

}  // namespace
