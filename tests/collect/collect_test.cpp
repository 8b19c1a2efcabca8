// The perflib entry points end to end: the bytes they leave in perflib's
// buffer, with the provider's blocks in real shared memory and the map copy in
// the emulated registry. Every call must also keep perflib's contract and
// decode without a problem in qvperf's strict decoder.
#include <gtest/gtest.h>

#include <functional>

#include "collect/perf_exports.h"
#include "common/perflib_seed.h"
#include "common/shm_fixture.h"
#include "objectmap/perfmon.h"
#include "platform/emulated/emulated_control.h"
#include "reader/perf_decoder.h"
#include "support/allocation.h"

namespace vz {
namespace {

using test::Bytes;
using test::PerfObjectWriter;
using test::ProviderChain;
using test::SerializedMapBuilder;
using Names = std::vector<std::string>;
using Layout = test::InstanceRecordLayout;

const std::u16string kApplication = u"Quorvane Server ITA";

class Monitor : public ATL::CPerfMon {
public:
    const WCHAR* ApplicationName() const override { return u"Quorvane Server ITA"; }
};

void SetMapValue(DWORD type, const Bytes& bytes) {
    test::WriteValue(test::kPerformancePath, u"Map", type, bytes.data(), bytes.size());
}

struct Sample {
    DWORD result, totalBytes, objects;
    Bytes bytes;  // what was written
    Names names;  // instance names in output order
};

// One Collect into a buffer filled with 0xCC, which the library leaves in
// padding and reserved bytes.
Sample Collect(const char16_t* query, DWORD capacity = 1 << 20, DWORD objectsBefore = 0) {
    std::vector<unsigned char> buffer;
    const qvperf::CollectCall call =
        qvperf::CallCollect(CollectPerfMon, query, capacity, objectsBefore, &buffer, 64, 0xCC);
    for (const std::string& problem : qvperf::CheckCollectCall(call)) ADD_FAILURE() << problem;
    Sample s{call.result, call.totalBytes, call.objectsAfter,
             Bytes(buffer.begin(), buffer.begin() + std::min(call.advanced, buffer.size())), {}};
    const qvperf::DecodeResult decoded = qvperf::DecodePerfData(s.bytes.data(), s.bytes.size(), s.objects);
    for (const qvperf::PerfObject& object : decoded.objects)
        for (const qvperf::Instance& instance : object.instances) s.names.push_back(instance.name);
    return s;
}

// The published object (name index 238) as Collect writes it.
PerfObjectWriter ServerObject(DWORD nameIndex = 238) {
    PerfObjectWriter object = test::PublishedObject(nameIndex, 0xCC);
    plat::QueryPerformanceFrequency(&object.header.PerfFreq);
    return object;
}

// A record of the published object with values 1000, 1001, ...; one field may be changed.
Layout Instance(DWORD id, std::u16string name, DWORD Layout::*field = nullptr, DWORD value = 0) {
    Layout layout;
    layout.instanceId = id;
    layout.name = std::move(name);
    for (DWORD i = 0; i < 16; ++i) layout.values.push_back(1000 + i);
    if (field != nullptr) layout.*field = value;
    return layout;
}

class CollectTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClosePerfMon();
        emu::ResetRegistry();
    }
    void TearDown() override {
        ClosePerfMon();
        EXPECT_EQ(emu::OpenMappingCount(), 0u);
    }
    Bytes map_ = test::ServerStatisticsMap(238).Build(false);
};

// Without a provider the object comes from the registered "Map" value, when
// it is a binary value holding a whole map: its bytes bound the names, not
// its size word. Else there is no data.
TEST_F(CollectTest, WithoutProviderTheRegisteredMapDescribesTheObject) {
    const Bytes expected = ServerObject().Build();
    ASSERT_EQ(expected.size(), 704u);
    Bytes longer = map_;  // a byte beyond the map it carries, read into whole words
    longer.push_back(0);
    Bytes understated = test::ServerStatisticsMap(238, true).Build(true);
    test::Put<DWORD>(understated, kMapSizeOffset, static_cast<DWORD>(MapEntriesEnd(17)) + 1);
    const struct {
        const char* what;
        DWORD type;
        Bytes value;
        bool described;
    } cases[] = {
        {"no value", 0, {}, false},
        {"REG_DWORD", plat::REG_DWORD, {1, 0, 0, 0}, false},
        {"the map's bytes as REG_SZ", plat::REG_SZ, map_, false},
        {"a broken map, read no further than its bytes", plat::REG_BINARY, Bytes(map_.begin(), map_.begin() + 100), false},
        {"the map and one more byte", plat::REG_BINARY, longer, true},
        {"a map size that understates the names", plat::REG_BINARY, understated, true},
        {"the map", plat::REG_BINARY, map_, true},
    };
    EXPECT_EQ(OpenPerfMon(nullptr), 0u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.type != 0) SetMapValue(c.type, c.value);
        const Sample s = Collect(u"Global", 4096, 5);
        EXPECT_EQ(s.result, 0u);
        EXPECT_EQ(s.objects, c.described ? 6u : 0u);
        EXPECT_EQ(s.bytes, c.described ? expected : Bytes{});
        ClosePerfMon();
    }
}

// Registration's copy of the map is the map with its names, byte for byte,
// and describes the object; a missing key or an unnamed category stores nothing.
TEST_F(CollectTest, RegisteredMapIsTheMapWithItsNames) {
    const Bytes named = test::ServerStatisticsMap(238, true).Build(true);
    const Bytes unnamed = test::ServerStatisticsMap(238).Build(true);
    Monitor monitor;
    ASSERT_EQ(monitor.ReadSerializedMap(named.data(), named.size()), S_OK);
    EXPECT_EQ(monitor.WriteRegisteredMap(), HResultFromWin32(ERROR_FILE_NOT_FOUND));
    test::WriteDword(test::kPerformancePath, u"Other", 0);
    ASSERT_EQ(monitor.ReadSerializedMap(unnamed.data(), unnamed.size()), S_OK);
    EXPECT_EQ(monitor.WriteRegisteredMap(), E_FAIL);
    DWORD type = 0;
    Bytes value;
    EXPECT_FALSE(test::ReadValue(test::kPerformancePath, u"Map", &type, &value));

    ASSERT_EQ(monitor.ReadSerializedMap(named.data(), named.size()), S_OK);
    ASSERT_EQ(monitor.WriteRegisteredMap(), S_OK);
    ASSERT_TRUE(test::ReadValue(test::kPerformancePath, u"Map", &type, &value));
    EXPECT_EQ(type, plat::REG_BINARY);
    EXPECT_EQ(value, named);
    EXPECT_EQ(Collect(u"238").bytes, ServerObject().Build());
}

// One instance named "Alpha": 816 bytes, and a buffer one byte short of them
// (or any shorter) is ERROR_MORE_DATA with nothing written or counted.
TEST_F(CollectTest, OneInstanceIsWrittenWholeOrNotAtAll) {
    ProviderChain chain(kApplication, map_);
    chain.CreateBlock(0);
    chain.AddRecord(0, Instance(7, u"Alpha"));
    const Bytes expected = ServerObject().Instance(u"Alpha", Instance(0, u"").values).Build();
    ASSERT_EQ(expected.size(), 816u);
    for (DWORD capacity : {0u, 63u, 704u, 815u, 816u, 1u << 20}) {
        const bool fits = capacity >= 816;
        const Sample s = Collect(u"Global", capacity, 2);
        EXPECT_EQ(s.result, fits ? 0u : ERROR_MORE_DATA) << capacity;
        EXPECT_EQ(s.objects, fits ? 3u : 0u) << capacity;
        EXPECT_EQ(s.bytes, fits ? expected : Bytes{}) << capacity;
    }
}

TEST_F(CollectTest, QueriesSelectByNameTitleIndex) {
    const struct {
        const char16_t* query;
        DWORD index;
        bool selected;
    } cases[] = {
        {u"Global", 238, true},     {u"gLoBaL", 5, true},         {u"238", 238, true},
        {u"   238", 238, true},     {u"240 238", 238, true},      {u"238  240", 240, true},
        {u"238,240", 238, true},    {u"238,240", 240, false},     {u"2380", 238, false},
        {u"Costly", 238, false},    {u"Foreign", 238, false},     {u"Costly", 0, true},
        {u"", 0, false},            {u"   ", 0, false},           {u"+238", 238, true},
        {u"-1", 0xFFFFFFFFu, true}, {u"99999999999", 0x7FFFFFFF, true}, {u"Global 5", 238, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ATL::CPerfMon::IsCategoryRequested(c.query, c.index), c.selected)
            << std::string(c.query, c.query + std::char_traits<char16_t>::length(c.query))
            << " / " << c.index;
}

// The provider's map replaces the registered one as soon as block 0 opens.
// Blocks are walked up to the first missing one; instances added later, and
// blocks created later, show at the next sample. Close releases every block.
TEST_F(CollectTest, ChainedBlocksAreWalkedUpToTheFirstMissingOneAndCloseReleasesThem) {
    SetMapValue(plat::REG_BINARY, map_);
    EXPECT_EQ(Collect(u"238").totalBytes, 704u);
    {
        ProviderChain chain(kApplication, test::ServerStatisticsMap(300).Build(false));
        chain.CreateBlock(0);
        EXPECT_EQ(Collect(u"238").totalBytes, 0u);
        EXPECT_EQ(Collect(u"300").totalBytes, 704u);
        chain.AddRecord(0, Instance(1, u"b0"));
        EXPECT_EQ(Collect(u"300").names, Names{"b0"});
        chain.EndBlock(0);
        chain.CreateBlock(1);
        chain.AddRecord(1, Instance(2, u"b1"));
        chain.EndBlock(1);
        chain.CreateBlock(3);
        chain.AddRecord(3, Instance(5, u"b3"));
        EXPECT_EQ(Collect(u"300").names, (Names{"b0", "b1"}));
        chain.CreateBlock(2);
        chain.AddRecord(2, Instance(4, u"b2"));
        chain.EndBlock(2);
        EXPECT_EQ(Collect(u"300").names, (Names{"b0", "b1", "b2", "b3"}));
        EXPECT_EQ(emu::OpenMappingCount(), 8u);  // a mapping and a view each
        EXPECT_EQ(ClosePerfMon(), 0u);
        EXPECT_EQ(emu::OpenMappingCount(), 0u);
    }
    EXPECT_EQ(Collect(u"238").totalBytes, 704u);
}

// What a sample shows of block 0 starting with the record "ok", then the
// row's records. Free or foreign records are stepped over; an end of
// instances, or a record that cannot be stepped over, ends the walk; a record
// whose name or values leave its RecordSize is skipped. An end mark first in a
// block, a block number that does not name its block, or a map that cannot be
// read is no data. Nothing is read outside a view or a record.
TEST_F(CollectTest, InstanceWalkStepsOverOrStopsAtBadRecords) {
    const Layout usual;
    // Block 0 ends after "ok"; block 1 carries `number`, then "b1" (or no record) and an end mark.
    auto block1 = [](DWORD number, bool b1 = true) {
        return [number, b1](ProviderChain& c) {
            c.EndBlock(0);
            c.CreateBlock(1);
            c.PutWord(1, BlockNumberOffset(MapEntriesEnd(17)), number);
            if (b1) c.AddRecord(1, Instance(2, u"b1"));
            c.EndBlock(1);
        };
    };
    const struct {
        const char* what;
        std::function<void(ProviderChain&)> add;
        Names shown;  // none: no data at all
        std::size_t blocks;  // the library keeps open after the sample
    } cases[] = {
        {"free, foreign and busy records, then the end of instances", [](ProviderChain& c) {
             c.AddRecord(0, Instance(2, u"free", &Layout::useCount, kFreeUseCount));
             c.AddRecord(0, Instance(3, u"other", &Layout::categoryId, 9));
             c.AddRecord(0, Instance(4, u"busy", &Layout::useCount, 5));
             c.AddRecord(0, Instance(5, u"", &Layout::recordSize, kEndOfInstances));
             c.AddRecord(0, Instance(6, u"hidden"));
         }, {"ok", "busy"}, 1},
        {"record beyond the view", [](ProviderChain& c) {
             c.PutWord(0, c.AddRecord(0, Instance(2, u"")) + kRecordSizeOffset, 0x00F00000u);
             c.AddRecord(0, Instance(3, u"after"));
         }, {"ok"}, 1},
        {"record shorter than its header", [](ProviderChain& c) {
             c.AddRecord(0, Instance(2, u"", &Layout::recordSize, kRecordHeaderSize - 1));
             c.AddRecord(0, Instance(3, u"after"));
         }, {"ok"}, 1},
        {"name offset beyond the record", [](ProviderChain& c) {
             c.AddRecord(0, Instance(2, u"", &Layout::nameOffset, 4000));
             c.AddRecord(0, Instance(3, u"after"));
         }, {"ok", "after"}, 1},
        {"name without terminator", [&usual](ProviderChain& c) {
             const std::size_t at = c.AddRecord(0, Instance(2, u""));
             for (DWORD o = usual.nameOffset; o < usual.recordSize; o += 4) c.PutWord(0, at + o, 0x00410041u);
             c.AddRecord(0, Instance(3, u"after"));
         }, {"ok", "after"}, 1},
        {"values beyond the record", [](ProviderChain& c) {
             Layout bad = Instance(2, u"", &Layout::recordSize, 40);
             bad.nameOffset = 24;
             c.AddRecord(0, bad);
             c.AddRecord(0, Instance(3, u"after"));
         }, {"ok", "after"}, 1},
        {"end mark first in block 1", block1(1, false), {}, 2},
        {"block 1 numbered 1", block1(1), {"ok", "b1"}, 2},
        {"block 1 numbered 0", block1(0), {}, 2},
        {"block 1 numbered 5", block1(5), {}, 2},
        {"more map entries than the view holds", [](ProviderChain& c) {
             c.PutWord(0, kMapEntryCountOffset, 2000);
         }, {}, 0},
    };
    SetMapValue(plat::REG_BINARY, map_);  // not used while block 0 is there
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ProviderChain chain(kApplication, map_);
        chain.CreateBlock(0);
        chain.AddRecord(0, Instance(1, u"ok"));
        c.add(chain);
        const Sample s = Collect(u"Global");
        EXPECT_EQ(s.result, 0u);
        EXPECT_EQ(s.names, c.shown);
        EXPECT_EQ(s.totalBytes == 0, c.shown.empty());
        EXPECT_EQ(emu::OpenMappingCount(), 2 * c.blocks);  // a mapping and a view each
        ClosePerfMon();
    }
}

// A category without instances has exactly one counter block: that of the
// first record that passes the snapshot check, else a zero-filled one. DWORD,
// LARGE, UTF-16 and ASCII text values go where their definitions say; the
// LARGE value's alignment gap and the block's padding keep the caller's bytes.
// Detail levels, the default counter and scale come from the map.
TEST_F(CollectTest, CategoryWithoutInstancesHasOneCounterBlock) {
    const DWORD kLarge = PERF_SIZE_LARGE, kText = PERF_SIZE_VARIABLE_LEN, kAscii = kText | PERF_TEXT_ASCII;
    const DWORD kExpert = 300;
    const Bytes map = SerializedMapBuilder()
                          .Category(6, 1, 80, 0, 500, 501, u"", kExpert, 3)  // any flag but 0: no instances
                          .Counter(PERF_SIZE_DWORD, 20)
                          .Counter(kLarge, 24, 0, 0, u"", 0, -3, 0, kExpert)
                          .Counter(kText, 32, 0, 0, u"", 8)
                          .Counter(kAscii, 72, 0, 0, u"", 4)
                          .Build(false);
    auto record = [](DWORD id, DWORD useCount, DWORD first) {
        Layout layout{80, 6, id, useCount, 76, u"", {first, 0x89ABCDEFu, 0x01234567u}};
        for (char16_t c = u'a'; c < u'a' + 20; c += 2) layout.values.push_back(c | (c + 1u) << 16);
        layout.values.push_back(0x7A797877u);  // "wxyz"
        return layout;
    };
    // The DWORD, a gap, the LARGE value, 7 characters and the zero, 3 and the zero, padding.
    auto block = [](DWORD first) {
        return std::vector<DWORD>{first, 0xCCCCCCCCu, 0x89ABCDEFu, 0x01234567u, 0x00620061u,
                                  0x00640063u, 0x00660065u, 0x00000067u, 0x00797877u, 0xCCCCCCCCu};
    };
    PerfObjectWriter object(500, 0xCC);
    object.Counter(0, PERF_SIZE_DWORD, 4, 8).Counter(0, kLarge, 8, 16).Counter(0, kText, 16, 24).Counter(0, kAscii, 4, 40);
    object.header.DetailLevel = kExpert;
    object.header.DefaultCounter = 3;
    plat::QueryPerformanceFrequency(&object.header.PerfFreq);
    const struct {
        const char* what;
        std::vector<Layout> records;
        std::vector<DWORD> block;
    } cases[] = {
        {"two live records", {record(1, 1, 10), record(2, 1, 20)}, block(10)},
        {"a freed record, then a live one", {record(1, 0, 10), record(2, 1, 20)}, block(20)},
        {"only freed records", {record(1, 0, 10), record(2, 0, 20)}, {0, 0xCCCCCCCCu, 0, 0, 0, 0, 0, 0, 0, 0xCCCCCCCCu}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ProviderChain chain(kApplication, map);
        chain.CreateBlock(0);
        for (const Layout& layout : c.records) chain.AddRecord(0, layout);
        Bytes expected = object.WithoutInstances(c.block).Build();
        test::Set(expected, PerfObjectWriter::counterAt(1), &PERF_COUNTER_DEFINITION::DefaultScale, -3);
        test::Set(expected, PerfObjectWriter::counterAt(1), &PERF_COUNTER_DEFINITION::DetailLevel, kExpert);
        EXPECT_EQ(Collect(u"500").bytes, expected);
        ClosePerfMon();
    }
}

// A sample of small records that reuses the map allocates nothing. The n-th
// allocation of a sample that rebuilds the map fails, for every n until a
// sample makes fewer than n. A failed rebuild is "no data" (0); the heap
// snapshot of the 2000-byte record, the sample's last allocation, is
// ERROR_MORE_DATA. Neither leaves a partial object; the next sample recovers.
TEST_F(CollectTest, SamplesAllocateNothingOnceTheMapIsBuiltAndFailedAllocationsFailCleanly) {
    ProviderChain chain(kApplication, map_);
    chain.CreateBlock(0);
    chain.AddRecord(0, Instance(1, u"small"));
    EXPECT_EQ(Collect(u"Global").names, Names{"small"});
    const std::size_t built = allocation_hooks::Count();
    EXPECT_EQ(Collect(u"Global").names, Names{"small"});
    EXPECT_EQ(allocation_hooks::Count(), built);
    chain.AddRecord(0, Instance(2, u"large", &Layout::recordSize, 2000));
    const Sample good = Collect(u"Global");
    ASSERT_EQ(good.names, (Names{"small", "large"}));
    ClosePerfMon();
    std::vector<DWORD> results;
    for (std::size_t n = 1; n < 100; ++n) {
        SCOPED_TRACE(n);
        const std::size_t before = allocation_hooks::Count();
        allocation_hooks::FailAfter(n);
        const Sample s = Collect(u"Global");
        const std::size_t made = allocation_hooks::Count() - before;
        allocation_hooks::FailAfter(0);
        if (made < n) {
            EXPECT_EQ(s.bytes, good.bytes);
            break;
        }
        results.push_back(s.result);
        EXPECT_TRUE(s.bytes.empty());
        ClosePerfMon();
        EXPECT_EQ(Collect(u"Global").bytes, good.bytes);
        ClosePerfMon();
    }
    ASSERT_GE(results.size(), 2u);
    EXPECT_EQ(results.back(), ERROR_MORE_DATA);
    results.pop_back();
    EXPECT_EQ(results, std::vector<DWORD>(results.size(), 0u));
}

}  // namespace
}  // namespace vz
