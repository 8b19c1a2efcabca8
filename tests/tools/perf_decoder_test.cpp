// The decoder must turn a well-formed Collect buffer into objects, instances
// and values, and must reject every malformed one without reading outside it.
#include <gtest/gtest.h>

#include <functional>

#include "common/layout_builder.h"
#include "reader/perf_decoder.h"

namespace {

using qvperf::DecodePerfData;
using qvperf::DecodeResult;
using namespace vz;
using test::Bytes;
using test::PerfObjectWriter;
using test::Set;
using Header = PERF_OBJECT_TYPE;
using Definition = PERF_COUNTER_DEFINITION;
using InstanceDefinition = PERF_INSTANCE_DEFINITION;

// One object with two DWORD counters (name indices 702, 704) and the given
// instance names; counter i of instance k holds 100 * k + i.
PerfObjectWriter Object(const std::vector<std::u16string>& instances, DWORD nameIndex = 700) {
    PerfObjectWriter object(nameIndex);
    object.DwordCounters(2, 702);
    for (DWORD k = 0; k < instances.size(); ++k) object.Instance(instances[k], {100 * k, 100 * k + 1});
    return object;
}
Bytes ObjectBytes(const std::vector<std::u16string>& instances, DWORD nameIndex = 700) {
    return Object(instances, nameIndex).Build();
}

TEST(PerfDecoder, DecodesObjectsInstancesAndValues) {
    // ASCII names are copied directly, others go through the UTF-8 encoder.
    Bytes data = ObjectBytes({u"Quorvane01", u"Quorvane02", u"Citt\u00e0"});
    const Bytes second = ObjectBytes({}, 800);
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

    const Bytes single = Object({}).WithoutInstances({0, 77}).Build();
    r = DecodePerfData(single.data(), single.size(), 1);
    ASSERT_EQ(r.objects.size(), 1u);
    EXPECT_FALSE(r.objects[0].hasInstances);
    ASSERT_EQ(r.objects[0].instances.size(), 1u);
    EXPECT_EQ(r.objects[0].instances[0].values[1].number, 77u);
}

// Every cut of a valid buffer, reported honestly as shorter, is decoded
// without reading past the cut (checked by the sanitizer builds) and never
// yields the object whole.
TEST(PerfDecoder, EveryTruncationIsRejected) {
    const Bytes full = ObjectBytes({u"Quorvane01", u"abc"});
    for (std::size_t cut = 0; cut < full.size(); ++cut) {
        const Bytes part(full.begin(), full.begin() + cut);
        DecodeResult r = DecodePerfData(part.data(), part.size(), 1);
        EXPECT_TRUE(r.objects.empty()) << "cut at " << cut;
        EXPECT_EQ(r.problems.size(), 1u) << "cut at " << cut;
    }
}

// The first object is damaged; the second, found through the first's total
// length, must still come through. A damaged total length, or more objects
// counted than returned, stops decoding; bytes after the last object are a problem.
TEST(PerfDecoder, MalformedObjectIsReportedAndTheNextOneDecoded) {
    PerfObjectWriter writer = Object({u"Quorvane01"});
    const Bytes valid = writer.Build();
    const std::size_t instance = writer.instanceAt[0], block = writer.blockAt[0];
    const std::size_t counter0 = writer.counterAt(0), counter1 = writer.counterAt(1);
    auto resize = [](Bytes& b, std::size_t size) {
        b.resize(size, 0);
        Set(b, 0, &Header::TotalByteLength, b.size());
    };
    const struct {
        const char* what;
        std::function<void(Bytes&)> apply;
    } cases[] = {
        {"header length below 64", [](Bytes& b) { Set(b, 0, &Header::HeaderLength, 60); }},
        {"definition length beyond total", [](Bytes& b) { Set(b, 0, &Header::DefinitionLength, 0x10000); }},
        {"more counters than definitions", [](Bytes& b) { Set(b, 0, &Header::NumCounters, 3); }},
        {"counter definitions short of the definition length", [](Bytes& b) { Set(b, 0, &Header::NumCounters, 1); }},
        {"counter definition of length 0", [&](Bytes& b) { Set(b, counter0, &Definition::ByteLength, 0); }},
        {"counter definition overlapping the instances", [&](Bytes& b) { Set(b, counter1, &Definition::ByteLength, 48); }},
        {"counter offset past the counter block", [&](Bytes& b) { Set(b, counter0, &Definition::CounterOffset, 14); }},
        {"counter size past the counter block", [&](Bytes& b) { Set(b, counter0, &Definition::CounterSize, 0xFFFFFFF0u); }},
        {"DWORD counter of 8 bytes", [&](Bytes& b) { Set(b, counter0, &Definition::CounterSize, 8); }},
        {"LARGE counter of 4 bytes", [&](Bytes& b) { Set(b, counter0, &Definition::CounterType, PERF_SIZE_LARGE | PERF_COUNTER_RAWCOUNT); }},
        {"instance length 0", [&](Bytes& b) { Set(b, instance, &InstanceDefinition::ByteLength, 0); }},
        {"instance overlapping the next object", [&](Bytes& b) { Set(b, instance, &InstanceDefinition::ByteLength, 0x7FFF0000); }},
        {"name beyond its instance", [&](Bytes& b) { Set(b, instance, &InstanceDefinition::NameLength, 200); }},
        {"name without terminator", [&](Bytes& b) { Set(b, instance, &InstanceDefinition::NameLength, 8); }},
        {"name of odd length", [&](Bytes& b) { Set(b, instance, &InstanceDefinition::NameLength, 21); }},
        {"name offset inside the definition", [&](Bytes& b) { Set(b, instance, &InstanceDefinition::NameOffset, 4); }},
        {"counter block longer than the object", [&](Bytes& b) { Set(b, block, &PERF_COUNTER_BLOCK::ByteLength, 4096); }},
        {"too many instances", [](Bytes& b) { Set(b, 0, &Header::NumInstances, 0x7FFFFFFF); }},
        {"one instance fewer than counted", [](Bytes& b) { Set(b, 0, &Header::NumInstances, 0); }},
        {"negative instance count other than PERF_NO_INSTANCES", [](Bytes& b) { Set(b, 0, &Header::NumInstances, -2); }},
        {"no instances and no counter block", [&](Bytes& b) {
             Set(b, 0, &Header::NumInstances, PERF_NO_INSTANCES);
             resize(b, instance);
         }},
        {"bytes after the last instance", [&](Bytes& b) { resize(b, b.size() + 8); }},
    };
    for (const auto& c : cases) {
        Bytes data = valid;
        c.apply(data);
        const Bytes good = ObjectBytes({u"Quorvane02"}, 900);
        data.insert(data.end(), good.begin(), good.end());
        DecodeResult r = DecodePerfData(data.data(), data.size(), 2);
        EXPECT_EQ(r.problems.size(), 1u) << c.what;
        ASSERT_EQ(r.objects.size(), 1u) << c.what;
        EXPECT_EQ(r.objects[0].nameIndex, 900u) << c.what;
    }

    for (DWORD total : {0u, 63u, 0xFFFFFFFFu}) {
        Bytes data = valid;
        Set(data, 0, &Header::TotalByteLength, total);
        DecodeResult r = DecodePerfData(data.data(), data.size(), 3);
        EXPECT_TRUE(r.objects.empty()) << total;
        EXPECT_EQ(r.problems.size(), 1u) << total;
    }
    DecodeResult r = DecodePerfData(valid.data(), valid.size(), 2);
    EXPECT_EQ(r.objects.size(), 1u);
    EXPECT_EQ(r.problems.size(), 1u);
    EXPECT_TRUE(DecodePerfData(nullptr, 100, 1).objects.empty());
    Bytes trailing = valid;
    trailing.resize(trailing.size() + 4, 0);
    r = DecodePerfData(trailing.data(), trailing.size(), 1);
    EXPECT_EQ(r.objects.size(), 1u);
    ASSERT_EQ(r.problems.size(), 1u);
    EXPECT_NE(r.problems[0].find("4 bytes after the last object"), std::string::npos);
}

// An object whose zero-size counters all sit at one offset: `counters`
// definitions, `instances` unnamed instances with `blockWords` words after
// each counter block's header.
Bytes SharedCounterBytes(DWORD counters, DWORD instances, DWORD blockWords) {
    PerfObjectWriter object(0);
    for (DWORD i = 0; i < counters; ++i) object.Counter(0, PERF_SIZE_ZERO | 0x40000000, 0, kCounterBlockHeaderSize);
    for (DWORD k = 0; k < instances; ++k) object.Instance(u"", std::vector<DWORD>(blockWords));
    return object.Build();
}

// Counters that share their bytes once made the decoded values grow with
// counters x instances: 205 KB of data took 432 MB. Each value is charged
// against the bytes returned, so such an object is refused (what an accepted
// one allocates is bounded by the qvperf_inputs fuzz target).
TEST(PerfDecoder, SharedCounterBytesCannotInflateTheDecodedValues) {
    const Bytes hostile = SharedCounterBytes(2500, 2500, 0);
    DecodeResult r = DecodePerfData(hostile.data(), hostile.size(), 1);
    EXPECT_TRUE(r.objects.empty());
    ASSERT_EQ(r.problems.size(), 1u);
    EXPECT_NE(r.problems[0].find("exceed the bytes returned"), std::string::npos);

    // At the limit: 16 values per 64 bytes of instance.
    const Bytes edge = SharedCounterBytes(16, 2000, 6);
    r = DecodePerfData(edge.data(), edge.size(), 1);
    ASSERT_TRUE(r.problems.empty()) << r.problems[0];
    ASSERT_EQ(r.objects.at(0).instances.size(), 2000u);

    // One more counter and the same instances no longer fit the budget.
    const Bytes over = SharedCounterBytes(17, 2000, 6);
    EXPECT_EQ(DecodePerfData(over.data(), over.size(), 1).problems.size(), 1u);
}

// The contract of one Collect call, checked on what a fake library does: it
// writes one object or nothing, returns `result`, then `spoils` the call.
TEST(CollectCallCheck, EachBreachOfTheContractIsFound) {
    const Bytes object = ObjectBytes({u"Quorvane01"});
    using Spoil = std::function<void(unsigned char* start, void** data, std::uint32_t* objects)>;
    const struct {
        const char* what;
        bool writes;
        std::uint32_t result;
        Spoil spoil;
        bool good;
    } cases[] = {
        {"a well-formed object", true, 0, nullptr, true},
        {"nothing requested", false, 0, nullptr, true},
        {"ERROR_MORE_DATA kept clean", false, 234, [](auto, auto, auto* o) { *o = 0; }, true},
        {"another result", false, 5, nullptr, false},
        {"ERROR_MORE_DATA with bytes", true, 234, nullptr, false},
        {"data not advanced", true, 0, [](auto* start, void** d, auto) { *d = start; }, false},
        {"a byte past the object", true, 0,
         [](auto, void** d, auto) { static_cast<unsigned char*>(*d)[3] = 0; }, false},
        {"a byte past the buffer", false, 0, [](auto* start, auto, auto) { start[4096] = 0; }, false},
        {"bytes without an object", true, 0, [](auto, auto, auto* o) { *o -= 1; }, false},
        {"a malformed object", true, 0,
         [](auto* start, auto, auto) { start[offsetof(Header, NumInstances)] = 2; }, false},
    };
    for (const auto& c : cases) {
        auto collect = [&](const char16_t*, void** data, std::uint32_t* total, std::uint32_t* objects) {
            auto* start = static_cast<unsigned char*>(*data);
            *total = 0;
            if (c.writes) {
                std::memcpy(start, object.data(), object.size());
                *data = start + object.size();
                *total = static_cast<std::uint32_t>(object.size());
                *objects += 1;
            }
            if (c.spoil) c.spoil(start, data, objects);
            return c.result;
        };
        std::vector<unsigned char> buffer;
        const qvperf::CollectCall call = qvperf::CallCollect(collect, u"Global", 4096, 3, &buffer);
        EXPECT_EQ(qvperf::CheckCollectCall(call).empty(), c.good) << c.what;
    }
}

}  // namespace
