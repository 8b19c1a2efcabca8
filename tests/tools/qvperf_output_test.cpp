// qvperf's command line and the layouts it writes: typeperf's log, the table.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "viewer/counter_path.h"
#include "viewer/options.h"
#include "viewer/sample.h"
#include "viewer/terminal_text.h"

namespace {

using qvperf::Options;
using qvperf::OutputFormat;

bool Parse(std::vector<std::string> args, Options* o, std::string* error) {
    bool usage = false;
    return qvperf::ParseOptions(args, o, error, &usage);
}

TEST(QvperfOptions, StrictNumbersAndOneOutputFormat) {
    const struct Case {
        std::vector<std::string> args;
        const char* error = nullptr;  // part of the message; null when accepted (more in the qvperf_cli test)
        OutputFormat format = OutputFormat::Table;
    } cases[] = {
        {{}},
        {{"-si", "0.5", "-sc", "4"}},
        {{"-si", "1:30"}},
        {{"-si", "1:00:00"}},
        {{"--serve", "65535"}},
        {{"-o", "log.csv"}, nullptr, OutputFormat::PdhCsv},  // typeperf's default for a log file
        {{"-f", "tsv"}, nullptr, OutputFormat::PdhTsv},
        {{"--format", "csv", "-o", "x"}, nullptr, OutputFormat::Csv},
        {{"-f", "CSV", "-f", "csv"}, nullptr, OutputFormat::PdhCsv},
        {{"-si", "1:"}, "-si (seconds): '' is not a number"},
        {{"-si", "0"}, "-si: '0' is out of range"},
        {{"-si", "-1"}, "-si: '-1' is not a number"},
        {{"-si", "1:60"}, "-si (seconds): '60' is out of range"},
        {{"-si", "1:x:3"}, "-si (minutes): 'x' is not a whole number"},
        {{"-si", "1:2:3:4"}, "-si: '1:2:3:4' is not an interval"},
        {{"-sc", "0"}, "-sc: '0' is out of range"},
        {{"-sc", "99999999999999999999"}, "is out of range"},
        {{"--serve", "65536"}, "--serve: '65536' is out of range (1 to 65535)"},
        {{"--serve", "0"}, "--serve: '0' is out of range"},
        {{"--format", "xml"}, "unknown format \"xml\""},
        {{"-o", "x.csv", "--serve", "9464"}, "leave out -o"},
    };
    for (const Case& c : cases) {
        Options o;
        std::string error, shown;
        for (const std::string& arg : c.args) shown += arg + " ";
        EXPECT_EQ(Parse(c.args, &o, &error), c.error == nullptr) << shown << error;
        if (c.error == nullptr) {
            EXPECT_EQ(o.format, c.format) << shown;
        } else {
            EXPECT_NE(error.find(c.error), std::string::npos) << shown << error;
        }
    }
    Options o;
    std::string error;
    ASSERT_TRUE(Parse({"-si", "1:02:03.5", "-sc", "7", "--serve", "9464"}, &o, &error));
    EXPECT_DOUBLE_EQ(o.interval, 3723.5);
    EXPECT_EQ(o.count, 7);
    EXPECT_EQ(o.listen, "127.0.0.1:9464");
}

TEST(QvperfNames, GlobMatching) {
    const struct {
        const char* pattern;
        const char* name;
        bool matches;
    } cases[] = {
        {"Quorvane0*", "Quorvane01", true},  {"quorvane0*", "QUORVANE09", true},
        {"Quorvane0*", "Quorvane10", false}, {"*01", "Quorvane01", true},
        {"Q*v*e0?", "Quorvane07", true},     {"Q*v*e0?", "Quorvane007", false},
        {"*", "", true},                     {"?", "", false},
        {"db?", "dbè", true},                {"a*b*c", "aXbYbZc", true},
        {"a*b*c", "aXbYbZ", false},          {"Database aperti", "database APERTI", true},
        {"?\xBA", "?\xBA", true},  // a stray continuation byte is not part of the '?'s character
    };
    for (const auto& c : cases)
        EXPECT_EQ(qvperf::NameMatches(c.pattern, c.name), c.matches) << c.pattern << " " << c.name;
}

TEST(QvperfTerminalText, ColumnsAndEscapes) {
    const struct {
        const char* text;
        const char* escaped;
        std::size_t columns;
    } cases[] = {
        {"Quorvane01", "Quorvane01", 10},
        {"caffè", "caffè", 5},
        {"e\xCC\x81", "e\xCC\x81", 1},                  // e + combining acute
        {"数据库", "数据库", 6},
        {"db🚀", "db🚀", 4},
        {"👍🏽", "👍🏽", 2},                             // skin tone modifier takes none
        {"a\nb\tc\r", "a\\nb\\tc\\r", 9},
        {"\x1b[31mred", "\\x1B[31mred", 11},
        {"\xC2\x85x", "\\x85x", 5},                      // C1 control NEL
        {"bad\xFFutf8\xE2\x82", "bad\uFFFDutf8\uFFFD\uFFFD", 10},  // invalid and cut short
    };
    for (const auto& c : cases) {
        const std::string escaped = qvperf::EscapeControls(c.text);
        EXPECT_EQ(escaped, c.escaped);
        EXPECT_EQ(qvperf::DisplayColumns(escaped), c.columns) << c.escaped;
    }
}

qvperf::SampleRow Row(const char* instance, const char* counter, std::uint64_t value) {
    qvperf::SampleRow row;
    row.object = "Quorvane Server 11";
    row.instance = instance;
    row.counter = counter;
    row.numeric = true;
    row.number = value;
    return row;
}

TEST(QvperfLayouts, TableAlignedByDisplayWidthAndTypeperfLog) {
    // A zone 2 hours east of UTC: typeperf writes the bias as UTC minus local, -120.
    const char* savedZone = std::getenv("TZ");
    const std::string restore = savedZone ? savedZone : "";
    setenv("TZ", "QVT-2", 1);
    tzset();
    qvperf::Sample first, second;
    first.time = std::chrono::system_clock::time_point(std::chrono::milliseconds(1796671215123));
    first.rows = {Row("数据库", "Database aperti", 21), Row("Quo\"02", "Tempo IO/chiamata", 9)};
    EXPECT_EQ(qvperf::FormatTable(first),
              "Sample 1  2026-12-07T19:20:15.123Z\n"
              "Object              Instance  Counter            Value\n"
              "Quorvane Server 11  数据库    Database aperti       21\n"
              "Quorvane Server 11  Quo\"02    Tempo IO/chiamata      9\n");
    second = first;
    second.sequence = 2;
    second.time += std::chrono::milliseconds(500);
    second.rows = {Row("Quo\"02", "Tempo IO/chiamata", 10), Row("a\nb", "Database aperti", 1)};
    qvperf::PdhLog csv("HOST", ',');
    const std::string header = csv.Format(first);
    EXPECT_EQ(header + csv.Format(second),
              "\"(PDH-CSV 4.0) (QVT)(-120)\","
              "\"\\\\HOST\\Quorvane Server 11(数据库)\\Database aperti\","
              "\"\\\\HOST\\Quorvane Server 11(Quo\"\"02)\\Tempo IO/chiamata\"\n"
              "\"12/07/2026 21:20:15.123\",\"21.000000\",\"9.000000\"\n"
              "\"12/07/2026 21:20:15.623\",\" \",\"10.000000\"\n");
    EXPECT_NE(qvperf::FormatTable(second).find("\nQuorvane Server 11  a\\nb      Database aperti        1\n"),
              std::string::npos);  // escaped, and aligned by what is shown
    savedZone ? setenv("TZ", restore.c_str(), 1) : unsetenv("TZ");
    tzset();
}

}  // namespace
