// The decoder must turn a well-formed Collect buffer into objects, instances
// and values, and must reject every malformed one without reading outside it.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "perf_decoder.h"

namespace {

using qvperf::DecodePerfData;
using qvperf::DecodeResult;

void Put(std::vector<unsigned char>& b, std::size_t at, std::uint32_t v) {
    if (b.size() < at + 4) b.resize(at + 4);
    std::memcpy(b.data() + at, &v, 4);
}

// One object with two DWORD counters (name indices 702, 704) and the given
// instance names; counter i of instance k holds 100 * k + i. Returns the bytes.
std::vector<unsigned char> ObjectBytes(const std::vector<std::u16string>& instances,
                                       std::uint32_t nameIndex = 700) {
    std::vector<unsigned char> b(64 + 2 * 40, 0);
    Put(b, 4, 64 + 2 * 40);  // DefinitionLength
    Put(b, 8, 64);           // HeaderLength
    Put(b, 12, nameIndex);
    Put(b, 20, nameIndex + 1);
    Put(b, 28, 100);
    Put(b, 32, 2);  // NumCounters
    Put(b, 40, static_cast<std::uint32_t>(instances.size()));
    for (std::uint32_t i = 0; i < 2; ++i) {
        const std::size_t d = 64 + 40 * i;
        Put(b, d, 40);
        Put(b, d + 4, 702 + 2 * i);
        Put(b, d + 12, 703 + 2 * i);
        Put(b, d + 28, 0x10000);
        Put(b, d + 32, 4);
        Put(b, d + 36, 8 + 4 * i);
    }
    for (std::size_t k = 0; k < instances.size(); ++k) {
        const std::size_t at = b.size();
        const std::uint32_t nameLength = static_cast<std::uint32_t>(2 * instances[k].size() + 2);
        const std::uint32_t area = (nameLength + 7) & ~7u;
        b.resize(at + 24 + area + 16, 0);
        Put(b, at, 24 + area);
        Put(b, at + 12, 0xFFFFFFFF);
        Put(b, at + 16, 24);
        Put(b, at + 20, nameLength);
        std::memcpy(b.data() + at + 24, instances[k].data(), 2 * instances[k].size());
        const std::size_t block = at + 24 + area;
        Put(b, block, 16);
        Put(b, block + 8, static_cast<std::uint32_t>(100 * k));
        Put(b, block + 12, static_cast<std::uint32_t>(100 * k + 1));
    }
    Put(b, 0, static_cast<std::uint32_t>(b.size()));
    return b;
}

TEST(PerfDecoder, DecodesObjectsInstancesAndValues) {
    std::vector<unsigned char> data = ObjectBytes({u"Quorvane01", u"Quorvane02"});
    std::vector<unsigned char> second = ObjectBytes({}, 800);
    data.insert(data.end(), second.begin(), second.end());
    DecodeResult r = DecodePerfData(data.data(), data.size(), 2);
    ASSERT_TRUE(r.problems.empty()) << r.problems[0];
    ASSERT_EQ(r.objects.size(), 2u);
    const qvperf::PerfObject& o = r.objects[0];
    EXPECT_EQ(o.nameIndex, 700u);
    EXPECT_EQ(o.helpIndex, 701u);
    ASSERT_EQ(o.counters.size(), 2u);
    EXPECT_EQ(o.counters[1].nameIndex, 704u);
    EXPECT_EQ(o.counters[1].offset, 12u);
    ASSERT_EQ(o.instances.size(), 2u);
    EXPECT_EQ(o.instances[1].name, "Quorvane02");
    ASSERT_EQ(o.instances[1].values.size(), 2u);
    EXPECT_EQ(o.instances[1].values[0].number, 100u);
    EXPECT_EQ(o.instances[1].values[1].number, 101u);
    EXPECT_EQ(r.objects[1].nameIndex, 800u);
    EXPECT_TRUE(r.objects[1].instances.empty());
}

TEST(PerfDecoder, ObjectWithoutInstancesHasOneCounterBlock) {
    std::vector<unsigned char> b = ObjectBytes({});
    Put(b, 40, 0xFFFFFFFF);  // PERF_NO_INSTANCES
    const std::size_t block = b.size();
    b.resize(block + 16, 0);
    Put(b, block, 16);
    Put(b, block + 12, 77);
    Put(b, 0, static_cast<std::uint32_t>(b.size()));
    DecodeResult r = DecodePerfData(b.data(), b.size(), 1);
    ASSERT_EQ(r.objects.size(), 1u);
    EXPECT_FALSE(r.objects[0].hasInstances);
    ASSERT_EQ(r.objects[0].instances.size(), 1u);
    EXPECT_EQ(r.objects[0].instances[0].values[1].number, 77u);
}

// Every cut of a valid buffer, reported honestly as shorter, is decoded
// without reading past the cut (checked by the sanitizer builds) and never
// yields the object whole.
TEST(PerfDecoder, EveryTruncationIsRejected) {
    const std::vector<unsigned char> full = ObjectBytes({u"Quorvane01", u"abc"});
    for (std::size_t cut = 0; cut < full.size(); ++cut) {
        std::vector<unsigned char> part(full.begin(), full.begin() + cut);
        DecodeResult r = DecodePerfData(part.data(), part.size(), 1);
        EXPECT_TRUE(r.objects.empty()) << "cut at " << cut;
        EXPECT_EQ(r.problems.size(), 1u) << "cut at " << cut;
    }
}

struct Corruption {
    const char* what;
    std::function<void(std::vector<unsigned char>&)> apply;
};

// The first object is damaged; the second, found through the first's total
// length, must still come through.
TEST(PerfDecoder, MalformedObjectIsReportedAndTheNextOneDecoded) {
    const std::size_t firstInstance = 64 + 80;
    const Corruption cases[] = {
        {"header length below 64", [](auto& b) { Put(b, 8, 60); }},
        {"definition length beyond total", [](auto& b) { Put(b, 4, 0x10000); }},
        {"more counters than definitions", [](auto& b) { Put(b, 32, 3); }},
        {"counter definition of length 0", [](auto& b) { Put(b, 64, 0); }},
        {"counter definition overlapping the instances", [](auto& b) { Put(b, 104, 48); }},
        {"instance length 0", [&](auto& b) { Put(b, firstInstance, 0); }},
        {"instance overlapping the next object", [&](auto& b) { Put(b, firstInstance, 0x7FFF0000); }},
        {"name beyond its instance", [&](auto& b) { Put(b, firstInstance + 20, 200); }},
        {"name offset inside the definition", [&](auto& b) { Put(b, firstInstance + 16, 4); }},
        {"counter block longer than the object", [&](auto& b) { Put(b, firstInstance + 48, 4096); }},
        {"counter offset past the counter block", [](auto& b) { Put(b, 64 + 36, 14); }},
        {"counter size past the counter block", [](auto& b) { Put(b, 64 + 32, 0xFFFFFFF0); }},
        {"too many instances", [](auto& b) { Put(b, 40, 0x7FFFFFFF); }},
    };
    for (const Corruption& c : cases) {
        std::vector<unsigned char> data = ObjectBytes({u"Quorvane01"});
        c.apply(data);
        const std::vector<unsigned char> good = ObjectBytes({u"Quorvane02"}, 900);
        data.insert(data.end(), good.begin(), good.end());
        DecodeResult r = DecodePerfData(data.data(), data.size(), 2);
        EXPECT_EQ(r.problems.size(), 1u) << c.what;
        ASSERT_EQ(r.objects.size(), 1u) << c.what;
        EXPECT_EQ(r.objects[0].nameIndex, 900u) << c.what;
    }
}

TEST(PerfDecoder, UnusableTotalLengthStopsDecoding) {
    for (std::uint32_t total : {0u, 63u, 0xFFFFFFFFu}) {
        std::vector<unsigned char> data = ObjectBytes({u"x"});
        Put(data, 0, total);
        DecodeResult r = DecodePerfData(data.data(), data.size(), 3);
        EXPECT_TRUE(r.objects.empty()) << total;
        EXPECT_EQ(r.problems.size(), 1u) << total;
    }
}

TEST(PerfDecoder, MoreObjectsCountedThanReturned) {
    std::vector<unsigned char> data = ObjectBytes({u"x"});
    DecodeResult r = DecodePerfData(data.data(), data.size(), 2);
    EXPECT_EQ(r.objects.size(), 1u);
    EXPECT_EQ(r.problems.size(), 1u);
    EXPECT_TRUE(DecodePerfData(nullptr, 100, 1).objects.empty());
}

}  // namespace
