// Counter paths and perflib title pairs.
#include <gtest/gtest.h>

#include "reader/title_names.h"
#include "viewer/counter_path.h"

namespace {

using qvperf::CounterPath;
using qvperf::ParseCounterPath;

TEST(CounterPathParsing, AcceptedAndRejected) {
    const struct {
        const char* text;
        const char* object = nullptr;  // null when refused
        const char* instance = nullptr;  // null without an instance part
        const char* counter = nullptr;
    } cases[] = {
        {"\\Quorvane Server 11(Quorvane01)\\Accessi alla cache %", "Quorvane Server 11", "Quorvane01",
         "Accessi alla cache %"},
        {"\\*(*)\\*", "*", "*", "*"},
        {"\\Memory\\Available Bytes", "Memory", nullptr, "Available Bytes"},
        {"\\Quorvane Server 11(db (main))\\Lettura KB/sec disco", "Quorvane Server 11", "db (main)",
         "Lettura KB/sec disco"},
        {""}, {"\\"}, {"Quorvane Server 11\\x"}, {"\\Quorvane"}, {"\\Obj(a))\\c"}, {"\\Obj()\\c"},
        {"\\Obj(a)\\"}, {"\\\\c"},
    };
    for (const auto& c : cases) {
        CounterPath p;
        std::string error;
        ASSERT_EQ(ParseCounterPath(c.text, &p, &error), c.object != nullptr) << c.text << ": " << error;
        EXPECT_EQ(error.empty(), c.object != nullptr) << c.text;
        if (c.object == nullptr) continue;
        EXPECT_EQ(p.object, c.object) << c.text;
        EXPECT_EQ(p.hasInstance, c.instance != nullptr) << c.text;
        EXPECT_EQ(p.instance, c.instance ? c.instance : "") << c.text;
        EXPECT_EQ(p.counter, c.counter) << c.text;
    }
}

TEST(CounterPathSelection, WildcardsCaseAndInstances) {
    CounterPath p;
    std::string e;
    ASSERT_TRUE(ParseCounterPath("\\quorvane server 11(QUORVANE01)\\*", &p, &e));
    EXPECT_TRUE(qvperf::PathSelects(p, "Quorvane Server 11", "Quorvane01", "Database aperti"));
    EXPECT_FALSE(qvperf::PathSelects(p, "Quorvane Server 11", "Quorvane02", "Database aperti"));
    EXPECT_FALSE(qvperf::PathSelects(p, "Quorvane Server 11", "", "Database aperti"));
    ASSERT_TRUE(ParseCounterPath("\\Memory\\*", &p, &e));
    EXPECT_TRUE(qvperf::PathSelects(p, "Memory", "", "Available Bytes"));
    EXPECT_FALSE(qvperf::PathSelects(p, "Memory", "node0", "Available Bytes"));
    ASSERT_TRUE(ParseCounterPath("\\*(*)\\*", &p, &e));
    EXPECT_TRUE(qvperf::PathSelects(p, "Memory", "", "Available Bytes"));
}

TEST(TitlePairs, ParsedWithoutLeavingTheList) {
    const std::u16string raw(u"1\0" u"1847\0" u"702\0Quorvane Server 11\0 704\0Accessi\0x\0y\0" u"9",
                             48);
    auto pairs = qvperf::TitleNames::ParsePairs(raw);
    EXPECT_EQ(pairs.size(), 3u);
    EXPECT_EQ(pairs[702], "Quorvane Server 11");
    EXPECT_EQ(pairs[704], "Accessi");
    EXPECT_EQ(pairs.count(0), 0u);  // "x" has no digits
}

}  // namespace
