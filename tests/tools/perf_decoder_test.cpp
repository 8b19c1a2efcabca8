// The decoder must turn a well-formed Collect buffer into objects, instances
// and values, and must reject every malformed one without reading outside it.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "reader/perf_decoder.h"

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
    // ASCII names are copied directly, others go through the UTF-8 encoder.
    std::vector<unsigned char> data =
        ObjectBytes({u"Quorvane01", u"Quorvane02", u"Citt\u00e0"});
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
    ASSERT_EQ(o.instances.size(), 3u);
    EXPECT_EQ(o.instances[1].name, "Quorvane02");
    EXPECT_EQ(o.instances[2].name, "Citt\xc3\xa0");
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
        {"one instance fewer than counted", [](auto& b) { Put(b, 40, 0); }},
        {"negative instance count other than PERF_NO_INSTANCES", [](auto& b) { Put(b, 40, 0xFFFFFFFE); }},
        {"no instances and no counter block", [](auto& b) {
             Put(b, 40, 0xFFFFFFFF);
             b.resize(64 + 80);
             Put(b, 0, 64 + 80);
         }},
        {"counter definitions short of the definition length", [](auto& b) { Put(b, 32, 1); }},
        {"name without terminator", [&](auto& b) { Put(b, firstInstance + 20, 8); }},
        {"name of odd length", [&](auto& b) { Put(b, firstInstance + 20, 21); }},
        {"DWORD counter of 8 bytes", [](auto& b) { Put(b, 64 + 32, 8); }},
        {"LARGE counter of 4 bytes", [](auto& b) { Put(b, 64 + 28, 0x10100); }},
        {"bytes after the last instance", [](auto& b) {
             b.resize(b.size() + 8, 0);
             Put(b, 0, static_cast<std::uint32_t>(b.size()));
         }},
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

TEST(PerfDecoder, BytesAfterTheLastObjectAreAProblem) {
    std::vector<unsigned char> data = ObjectBytes({u"x"});
    data.resize(data.size() + 4, 0);
    DecodeResult r = DecodePerfData(data.data(), data.size(), 1);
    EXPECT_EQ(r.objects.size(), 1u);
    ASSERT_EQ(r.problems.size(), 1u);
    EXPECT_NE(r.problems[0].find("4 bytes after the last object"), std::string::npos);
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

// Bytes the decoded result holds: what decoding a library's buffer keeps.
std::size_t Footprint(const DecodeResult& r) {
    std::size_t bytes = r.objects.capacity() * sizeof(qvperf::PerfObject);
    for (const qvperf::PerfObject& o : r.objects) {
        bytes += o.counters.capacity() * sizeof(qvperf::CounterDefinition) +
                 o.instances.capacity() * sizeof(qvperf::Instance);
        for (const qvperf::Instance& i : o.instances) {
            bytes += i.name.capacity() + i.values.capacity() * sizeof(qvperf::CounterValue);
            for (const qvperf::CounterValue& v : i.values) bytes += v.text.capacity();
        }
    }
    return bytes;
}

// An object whose zero-size counters all sit at one offset: `counters`
// definitions, `instances` instances with a one-character name and a counter
// block of `blockLength` bytes.
std::vector<unsigned char> SharedCounterBytes(std::uint32_t counters, std::uint32_t instances,
                                              std::uint32_t blockLength) {
    const std::uint32_t definitions = 64 + 40 * counters;
    const std::uint32_t each = 24 + 8 + blockLength;
    std::vector<unsigned char> b(definitions + instances * each, 0);
    Put(b, 0, static_cast<std::uint32_t>(b.size()));
    Put(b, 4, definitions);
    Put(b, 8, 64);
    Put(b, 32, counters);
    Put(b, 40, instances);
    for (std::uint32_t i = 0; i < counters; ++i) {
        Put(b, 64 + 40 * i, 40);
        Put(b, 64 + 40 * i + 28, 0x40000200);  // zero size
        Put(b, 64 + 40 * i + 36, 8);
    }
    for (std::uint32_t k = 0; k < instances; ++k) {
        const std::size_t at = definitions + k * each;
        Put(b, at, 32);
        Put(b, at + 16, 24);
        Put(b, at + 20, 2);
        Put(b, at + 32, blockLength);
    }
    return b;
}

// Counters that share their bytes once made the decoded values grow with
// counters x instances: 205 KB of data took 432 MB. Each value is charged
// against the bytes returned, so such an object is refused, and what an
// accepted one keeps stays a small multiple of the buffer.
TEST(PerfDecoder, SharedCounterBytesCannotInflateTheDecodedValues) {
    const std::vector<unsigned char> hostile = SharedCounterBytes(2500, 2500, 8);
    DecodeResult r = DecodePerfData(hostile.data(), hostile.size(), 1);
    EXPECT_TRUE(r.objects.empty());
    ASSERT_EQ(r.problems.size(), 1u);
    EXPECT_NE(r.problems[0].find("exceed the bytes returned"), std::string::npos);

    // At the limit: 16 values per 64 bytes of instance.
    const std::vector<unsigned char> edge = SharedCounterBytes(16, 2000, 32);
    r = DecodePerfData(edge.data(), edge.size(), 1);
    ASSERT_TRUE(r.problems.empty()) << r.problems[0];
    ASSERT_EQ(r.objects.at(0).instances.size(), 2000u);
    EXPECT_LT(Footprint(r), 20 * edge.size());  // 17 times with 48-byte values

    // One more counter and the same instances no longer fit the budget.
    const std::vector<unsigned char> over = SharedCounterBytes(17, 2000, 32);
    EXPECT_EQ(DecodePerfData(over.data(), over.size(), 1).problems.size(), 1u);
}

// The contract of one Collect call, checked on what a fake library does.
TEST(CollectCallCheck, EachBreachOfTheContractIsFound) {
    static const std::vector<unsigned char> object = ObjectBytes({u"Quorvane01"});
    struct Case {
        const char* what;
        std::function<std::uint32_t(void**, std::uint32_t*, std::uint32_t*)> library;
        bool good;
    };
    auto put = [](void** data, std::uint32_t* total, std::uint32_t* objects) {
        std::memcpy(*data, object.data(), object.size());
        *data = static_cast<unsigned char*>(*data) + object.size();
        *total = static_cast<std::uint32_t>(object.size());
        *objects += 1;
    };
    const Case cases[] = {
        {"a well-formed object", [&](void** d, auto* t, auto* o) { put(d, t, o); return 0u; }, true},
        {"nothing requested", [](void**, auto* t, auto*) { *t = 0; return 0u; }, true},
        {"ERROR_MORE_DATA kept clean", [](void**, auto* t, auto* o) { *t = 0; *o = 0; return 234u; }, true},
        {"another result", [](void**, auto* t, auto*) { *t = 0; return 5u; }, false},
        {"ERROR_MORE_DATA with bytes", [&](void** d, auto* t, auto* o) { put(d, t, o); return 234u; }, false},
        {"data not advanced", [&](void** d, auto* t, auto* o) {
             void* start = *d;
             put(d, t, o);
             *d = start;
             return 0u;
         }, false},
        {"a byte past the object", [&](void** d, auto* t, auto* o) {
             put(d, t, o);
             static_cast<unsigned char*>(*d)[3] = 0;
             return 0u;
         }, false},
        {"a byte past the buffer", [](void** d, auto* t, auto*) {
             static_cast<unsigned char*>(*d)[4096] = 0;
             *t = 0;
             return 0u;
         }, false},
        {"bytes without an object", [&](void** d, auto* t, auto* o) {
             put(d, t, o);
             *o -= 1;
             return 0u;
         }, false},
        {"a malformed object", [&](void** d, auto* t, auto* o) {
             unsigned char* start = static_cast<unsigned char*>(*d);
             put(d, t, o);
             const std::uint32_t twoInstances = 2;
             std::memcpy(start + 40, &twoInstances, 4);
             return 0u;
         }, false},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> buffer;
        auto collect = [&](const char16_t*, void** data, std::uint32_t* total,
                           std::uint32_t* objects) { return c.library(data, total, objects); };
        const qvperf::CollectCall call = qvperf::CallCollect(collect, u"Global", 4096, 3, &buffer);
        EXPECT_EQ(qvperf::CheckCollectCall(call).empty(), c.good) << c.what;
    }
}

}  // namespace
