// The perflib entry points end to end: the bytes they leave in perflib's
// buffer, with the provider's blocks in real shared memory and the map copy in
// the emulated registry. Every buffer also passes qvperf's strict decoder.
#include <gtest/gtest.h>

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
using test::Get;
using test::InstanceRecordLayout;
using test::PerfObjectWriter;
using test::ProviderChain;
using test::SerializedMapBuilder;

const std::u16string kApplication = u"Quorvane Server ITA";

class Monitor : public ATL::CPerfMon {
public:
    const WCHAR* ApplicationName() const override { return u"Quorvane Server ITA"; }
};

void SetMapValue(DWORD type, const Bytes& bytes) {
    test::WriteValue(test::kPerformancePath, u"Map", type, bytes.data(), bytes.size());
}

struct Sample {
    DWORD result = 0;
    DWORD totalBytes = 0;
    DWORD objects = 0;
    std::size_t advanced = 0;
    Bytes bytes;  // what was written
};

// One Collect into a buffer filled with 0xCC, which the library leaves in
// padding and reserved bytes.
Sample Collect(const char16_t* query, DWORD capacity = 1 << 20, DWORD objectsBefore = 0) {
    Sample s;
    Bytes buffer(capacity + 1, 0xCC);
    void* data = buffer.data();
    s.totalBytes = capacity;
    s.objects = objectsBefore;
    s.result = CollectPerfMon(query, &data, &s.totalBytes, &s.objects);
    s.advanced = static_cast<uint8_t*>(data) - buffer.data();
    s.bytes.assign(buffer.begin(), buffer.begin() + s.advanced);
    return s;
}

// Instance names in output order, through the strict decoder.
std::vector<std::string> InstanceNames(const Sample& s) {
    const qvperf::DecodeResult r = qvperf::DecodePerfData(s.bytes.data(), s.bytes.size(), s.objects);
    EXPECT_TRUE(r.problems.empty()) << r.problems[0];
    std::vector<std::string> names;
    for (const qvperf::PerfObject& object : r.objects)
        for (const qvperf::Instance& instance : object.instances) names.push_back(instance.name);
    return names;
}

// The published object (name index 238) as Collect writes it.
PerfObjectWriter ServerObject(DWORD nameIndex = 238) {
    PerfObjectWriter object = test::PublishedObject(nameIndex, 0xCC);
    plat::QueryPerformanceFrequency(&object.header.PerfFreq);
    return object;
}

InstanceRecordLayout Instance(DWORD id, std::u16string name, DWORD firstValue = 1000) {
    InstanceRecordLayout layout;
    layout.instanceId = id;
    layout.name = std::move(name);
    for (DWORD i = 0; i < 16; ++i) layout.values.push_back(firstValue + i);
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
// it is a binary value holding a whole map; else there is no data.
TEST_F(CollectTest, WithoutProviderTheRegisteredMapDescribesTheObject) {
    EXPECT_EQ(OpenPerfMon(nullptr), 0u);
    const Bytes expected = ServerObject().Build();
    ASSERT_EQ(expected.size(), 704u);
    Bytes longer = map_;  // a byte beyond the map it carries, read into whole words
    longer.push_back(0);
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
        {"the map", plat::REG_BINARY, map_, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.type != 0) SetMapValue(c.type, c.value);
        const Sample s = Collect(u"Global", 4096, 5);
        EXPECT_EQ(s.result, 0u);
        EXPECT_EQ(s.totalBytes, c.described ? 704u : 0u);
        EXPECT_EQ(s.objects, c.described ? 6u : 0u);
        EXPECT_EQ(s.bytes, c.described ? expected : Bytes{});
    }
}

// The copy registration writes: the map with its names, read back into the
// same definitions; a missing key or an unnamed category stores nothing.
TEST_F(CollectTest, RegisteredMapIsWrittenAndReadBack) {
    auto fill = [](Monitor& monitor, const WCHAR* categoryName) {
        ASSERT_EQ(monitor.AddCategoryRecord(4, categoryName, u"help", 100, 0, false, 84, 64), S_OK);
        monitor.categories[0].nameTitleIndex = 238;
        monitor.categories[0].helpTitleIndex = 239;
        for (DWORD i = 0; i < 16; ++i) {
            ASSERT_EQ(monitor.AddCounterRecord(0, u"Counter #0", u"help", 100, PERF_COUNTER_RAWCOUNT, 0,
                                               kRecordHeaderSize + 4 * i, 0), S_OK);
            monitor.categories[0].counters[i].nameTitleIndex = 240 + 2 * i;
            monitor.categories[0].counters[i].helpTitleIndex = 241 + 2 * i;
        }
    };
    Monitor unkeyed;
    fill(unkeyed, u"Twelve chars");
    EXPECT_EQ(unkeyed.WriteRegisteredMap(), HResultFromWin32(ERROR_FILE_NOT_FOUND));
    test::WriteDword(test::kPerformancePath, u"Other", 0);
    Monitor unnamed;
    fill(unnamed, u"");
    EXPECT_EQ(unnamed.WriteRegisteredMap(), E_FAIL);
    DWORD type = 0;
    Bytes value;
    EXPECT_FALSE(test::ReadValue(test::kPerformancePath, u"Map", &type, &value));

    Monitor monitor;
    fill(monitor, u"Twelve chars");
    EXPECT_EQ(monitor.CountMapEntries(), 17u);
    ASSERT_EQ(monitor.WriteRegisteredMap(), S_OK);
    ASSERT_TRUE(test::ReadValue(test::kPerformancePath, u"Map", &type, &value));
    EXPECT_EQ(type, plat::REG_BINARY);
    SerializedMapBuilder expected;
    expected.Category(4, 0, 84, 64, 238, 239, u"Twelve chars");
    for (DWORD i = 0; i < 16; ++i)
        expected.Counter(PERF_COUNTER_RAWCOUNT, kRecordHeaderSize + 4 * i, 240 + 2 * i, 241 + 2 * i, u"Counter #0");
    EXPECT_EQ(value, expected.Build(true));

    Monitor reader;
    ASSERT_EQ(reader.ReadSerializedMap(value.data(), value.size()), S_OK);
    EXPECT_EQ(reader.categories[0].name.ToU16(), u"Twelve chars");
    EXPECT_EQ(reader.categories[0].counters[15].name.ToU16(), u"Counter #0");
    EXPECT_EQ(Collect(u"238").bytes, ServerObject().Build());

    // The value's bytes bound the names, not its first word: a map size that
    // understates the name area still describes the object.
    ClosePerfMon();
    value = test::ServerStatisticsMap(238, true).Build(true);
    test::Put<DWORD>(value, kMapSizeOffset, static_cast<DWORD>(MapEntriesEnd(17)) + 1);
    SetMapValue(plat::REG_BINARY, value);
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
    Sample s = Collect(u"Global");
    ASSERT_EQ(s.result, 0u);
    EXPECT_EQ(s.totalBytes, 816u);
    EXPECT_EQ(s.objects, 1u);
    EXPECT_EQ(s.bytes, expected);
    for (DWORD capacity : {0u, 63u, 704u, 815u}) {
        s = Collect(u"Global", capacity, 2);
        EXPECT_EQ(s.result, ERROR_MORE_DATA) << capacity;
        EXPECT_EQ(s.totalBytes, 0u) << capacity;
        EXPECT_EQ(s.objects, 0u) << capacity;
        EXPECT_EQ(s.advanced, 0u) << capacity;
    }
    EXPECT_EQ(Collect(u"Global", 816).bytes, expected);
}

TEST_F(CollectTest, QueriesSelectByNameTitleIndex) {
    struct Case {
        const char16_t* query;
        DWORD index;
        bool selected;
    };
    const Case cases[] = {
        {u"Global", 238, true},     {u"gLoBaL", 5, true},         {u"238", 238, true},
        {u"   238", 238, true},     {u"240 238", 238, true},      {u"238  240", 240, true},
        {u"238,240", 238, true},    {u"238,240", 240, false},     {u"2380", 238, false},
        {u"Costly", 238, false},    {u"Foreign", 238, false},     {u"Costly", 0, true},
        {u"", 0, false},            {u"   ", 0, false},           {u"+238", 238, true},
        {u"-1", 0xFFFFFFFFu, true}, {u"99999999999", 0x7FFFFFFF, true}, {u"Global 5", 238, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ATL::CPerfMon::IsCategoryRequested(c.query, c.index), c.selected)
            << std::string(c.query, c.query + std::char_traits<char16_t>::length(c.query))
            << " / " << c.index;

    SetMapValue(plat::REG_BINARY, map_);
    Sample s = Collect(u"240 Costly", 4096, 3);
    EXPECT_EQ(s.result, 0u);
    EXPECT_EQ(s.totalBytes, 0u);
    EXPECT_EQ(s.objects, 3u);
    EXPECT_EQ(Collect(u"1 238").totalBytes, 704u);
}

// Blocks are walked up to the first missing one; instances added later, and
// blocks created later, show at the next sample.
TEST_F(CollectTest, ChainedBlocksAreWalkedUpToTheFirstMissingOne) {
    ProviderChain chain(kApplication, map_);
    chain.CreateBlock(0);
    EXPECT_EQ(Collect(u"Global").totalBytes, 704u);
    chain.AddRecord(0, Instance(1, u"b0"));
    EXPECT_EQ(InstanceNames(Collect(u"Global")), (std::vector<std::string>{"b0"}));
    chain.EndBlock(0);
    chain.CreateBlock(1);
    chain.AddRecord(1, Instance(2, u"b1-first"));
    chain.AddRecord(1, Instance(3, u"b1-second"));
    chain.EndBlock(1);
    chain.CreateBlock(3);
    chain.AddRecord(3, Instance(5, u"b3"));
    EXPECT_EQ(InstanceNames(Collect(u"Global")), (std::vector<std::string>{"b0", "b1-first", "b1-second"}));

    chain.CreateBlock(2);
    chain.AddRecord(2, Instance(4, u"b2"));
    chain.EndBlock(2);
    EXPECT_EQ(InstanceNames(Collect(u"Global")),
              (std::vector<std::string>{"b0", "b1-first", "b1-second", "b2", "b3"}));
}

TEST_F(CollectTest, RecordsThatAreNotLiveOrNotOursAreStepped) {
    ProviderChain chain(kApplication, map_);
    chain.CreateBlock(0);
    chain.AddRecord(0, Instance(1, u"first"));
    InstanceRecordLayout free = Instance(2, u"free");
    free.useCount = kFreeUseCount;
    chain.AddRecord(0, free);
    InstanceRecordLayout other = Instance(3, u"other");
    other.categoryId = 9;
    chain.AddRecord(0, other);
    chain.AddRecord(0, Instance(4, u"second"));
    InstanceRecordLayout stop;  // RecordSize 0 ends all instance data
    stop.recordSize = kEndOfInstances;
    chain.AddRecord(0, stop);
    chain.AddRecord(0, Instance(5, u"hidden"));
    Sample s = Collect(u"Global");
    EXPECT_EQ(InstanceNames(s), (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(s.totalBytes, 704u + 2 * (24 + 16 + 72));
}

// Each hostile record ends the walk or is skipped; none is read outside the
// view or outside its own RecordSize, and the sample still succeeds.
TEST_F(CollectTest, HostileRecordsNeverLeaveTheirBounds) {
    const InstanceRecordLayout usual;
    struct Case {
        const char* what;
        DWORD recordSize;
        DWORD nameOffset;
        bool terminateName;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"record beyond the view", 0x00F00000u, usual.nameOffset, true, {"ok"}},
        {"record shorter than its header", 12, usual.nameOffset, true, {"ok"}},
        {"name offset beyond the record", usual.recordSize, 4000, true, {"ok", "after"}},
        {"name without terminator", usual.recordSize, usual.nameOffset, false, {"ok", "after"}},
        {"values beyond the record", 40, 24, true, {"ok", "after"}},
    };
    for (const Case& c : cases) {
        ClosePerfMon();
        ProviderChain chain(kApplication, map_);
        chain.CreateBlock(0);
        chain.AddRecord(0, Instance(1, u"ok"));
        InstanceRecordLayout bad = Instance(2, u"");
        bad.recordSize = c.recordSize < 1000 ? c.recordSize : usual.recordSize;
        bad.nameOffset = c.nameOffset;
        std::size_t at = chain.AddRecord(0, bad);
        chain.PutWord(0, at + kRecordSizeOffset, c.recordSize);
        if (!c.terminateName)
            for (DWORD o = usual.nameOffset; o < usual.recordSize; o += 4) chain.PutWord(0, at + o, 0x00410041u);
        if (c.recordSize >= kRecordHeaderSize && c.recordSize < 1000) chain.AddRecord(0, Instance(3, u"after"));
        Sample s = Collect(u"Global");
        EXPECT_EQ(s.result, 0u) << c.what;
        EXPECT_EQ(InstanceNames(s), c.expected) << c.what;
    }
}

// An end mark first in a block, or a map in block 0 that cannot be read, is
// no data (the registered map is not used then); a broken map keeps no block open.
TEST_F(CollectTest, BrokenChainsGiveNoData) {
    SetMapValue(plat::REG_BINARY, map_);
    Bytes broken = map_;
    test::Put<DWORD>(broken, kMapEntryCountOffset, 2000);  // more entries than the whole view holds
    for (const bool brokenMap : {false, true}) {
        SCOPED_TRACE(brokenMap ? "broken map" : "end mark first in block 1");
        ProviderChain chain(kApplication, brokenMap ? broken : map_);
        chain.CreateBlock(0);
        chain.AddRecord(0, Instance(1, u"a"));
        chain.EndBlock(0);
        chain.CreateBlock(1);
        chain.EndBlock(1);
        Sample s = Collect(u"Global");
        EXPECT_EQ(s.result, 0u);
        EXPECT_EQ(s.totalBytes, 0u);
        EXPECT_EQ(s.advanced, 0u);
        if (brokenMap) {
            EXPECT_EQ(emu::OpenMappingCount(), 0u);
        }
        ClosePerfMon();
    }
}

TEST_F(CollectTest, CloseReleasesEverythingAndTheNextCollectStartsFromBlockZero) {
    SetMapValue(plat::REG_BINARY, map_);
    EXPECT_EQ(Collect(u"238").totalBytes, 704u);
    {
        ProviderChain chain(kApplication, test::ServerStatisticsMap(300).Build(false));
        chain.CreateBlock(0);
        chain.AddRecord(0, Instance(1, u"one"));
        const std::size_t providerOnly = emu::OpenMappingCount();
        // The provider's map replaces the registered one as soon as block 0 opens.
        EXPECT_EQ(Collect(u"238").totalBytes, 0u);
        EXPECT_EQ(Collect(u"300").totalBytes, 704u + 24 + 8 + 72);
        EXPECT_EQ(ClosePerfMon(), 0u);
        EXPECT_EQ(emu::OpenMappingCount(), providerOnly);
    }
    EXPECT_EQ(Collect(u"238").totalBytes, 704u);
}

// A category without instances: DWORD, LARGE, UTF-16 and ASCII text values
// placed by their definitions; no record gives one zero-filled counter block.
TEST_F(CollectTest, CategoryWithoutInstancesPlacesEveryKindOfValue) {
    const DWORD kLarge = PERF_SIZE_LARGE, kText = PERF_SIZE_VARIABLE_LEN, kAscii = kText | PERF_TEXT_ASCII;
    const Bytes map = SerializedMapBuilder()
                          .Category(6, 0xFFFFFFFFu, 80, 0, 500, 501)
                          .Counter(PERF_SIZE_DWORD, 20)
                          .Counter(kLarge, 24)
                          .Counter(kText, 32, 0, 0, u"", 8)
                          .Counter(kAscii, 72, 0, 0, u"", 4)
                          .Build(false);
    PerfObjectWriter expected(500, 0xCC);
    expected.Counter(0, PERF_SIZE_DWORD, 4, 8).Counter(0, kLarge, 8, 16).Counter(0, kText, 16, 24).Counter(0, kAscii, 4, 40);
    plat::QueryPerformanceFrequency(&expected.header.PerfFreq);
    // Words after the block header: the DWORD, a gap the LARGE value's
    // alignment leaves unwritten, the LARGE value, 16 bytes of UTF-16 and 4 of
    // ASCII, and the block's padding to 8, also left unwritten.
    std::vector<DWORD> block(10, 0);
    block[1] = block[9] = 0xCCCCCCCCu;
    ProviderChain chain(kApplication, map);
    chain.CreateBlock(0);
    EXPECT_EQ(Collect(u"500").bytes, expected.WithoutInstances(block).Build());

    InstanceRecordLayout layout;
    layout.recordSize = 80;
    layout.categoryId = 6;
    layout.nameOffset = 76;
    layout.values = {111, 0x89ABCDEFu, 0x01234567u};
    for (char16_t c = u'a'; c < u'a' + 20; c += 2) layout.values.push_back(c | (c + 1u) << 16);
    layout.values.push_back(0x7A797877u);  // "wxyz"
    chain.AddRecord(0, layout);
    // 7 characters and the zero; 3 and the zero.
    block = {111, 0xCCCCCCCCu, 0x89ABCDEFu, 0x01234567u, 0x00620061u, 0x00640063u, 0x00660065u, 0x00000067u, 0x00797877u, 0xCCCCCCCCu};
    EXPECT_EQ(Collect(u"500").bytes, expected.WithoutInstances(block).Build());
}

// A category without instances has exactly one counter block: that of the
// first record that passes the snapshot check, else the zero-filled one.
TEST_F(CollectTest, CategoryWithoutInstancesHasExactlyOneCounterBlock) {
    const Bytes map =
        SerializedMapBuilder().Category(6, 1, 28, 0, 500, 501).Counter(PERF_SIZE_DWORD, 20).Counter(PERF_SIZE_DWORD, 24).Build(false);
    auto record = [](DWORD instanceId, DWORD useCount, DWORD first) {
        InstanceRecordLayout layout;
        layout.recordSize = 32;
        layout.categoryId = 6;
        layout.instanceId = instanceId;
        layout.useCount = useCount;
        layout.nameOffset = 28;
        layout.values = {first, first + 1};
        return layout;
    };
    const struct {
        const char* what;
        std::vector<InstanceRecordLayout> records;
        std::vector<DWORD> values;  // in the one counter block
    } cases[] = {
        {"two live records", {record(1, 1, 10), record(2, 1, 20)}, {10, 11}},
        {"a freed record, then a live one", {record(1, 0, 10), record(2, 1, 20)}, {20, 21}},
        {"only freed records", {record(1, 0, 10), record(2, 0, 20)}, {0, 0}},
    };
    for (const auto& c : cases) {
        ProviderChain chain(kApplication, map);
        chain.CreateBlock(0);
        for (const InstanceRecordLayout& layout : c.records) chain.AddRecord(0, layout);
        PerfObjectWriter expected(500, 0xCC);
        expected.Counter(0, PERF_SIZE_DWORD, 4, 8).Counter(0, PERF_SIZE_DWORD, 4, 12).WithoutInstances(c.values);
        plat::QueryPerformanceFrequency(&expected.header.PerfFreq);
        EXPECT_EQ(Collect(u"500").bytes, expected.Build()) << c.what;
        ClosePerfMon();
    }
}

TEST_F(CollectTest, SteadyStateSampleAllocatesNothing) {
    ProviderChain chain(kApplication, map_);
    chain.CreateBlock(0);
    for (DWORD i = 0; i < 50; ++i) chain.AddRecord(0, Instance(i + 1, u"instance"));
    Bytes buffer(1 << 20);
    auto sample = [&] {
        void* data = buffer.data();
        DWORD total = static_cast<DWORD>(buffer.size()), objects = 0;
        EXPECT_EQ(CollectPerfMon(u"Global", &data, &total, &objects), 0u);
        return total;
    };
    EXPECT_GT(sample(), 704u);
    const std::size_t before = allocation_hooks::Count();
    EXPECT_GT(sample(), 704u);
    EXPECT_EQ(allocation_hooks::Count(), before);
}

TEST_F(CollectTest, EveryFailingAllocationOfASampleFailsItCleanlyAndTheNextOneRecovers) {
    // Block 0, an instance of the usual size and one of 2000 bytes, whose
    // snapshot has to go to the heap.
    ProviderChain chain(kApplication, map_);
    chain.CreateBlock(0);
    chain.AddRecord(0, Instance(1, u"small"));
    InstanceRecordLayout large = Instance(2, u"large");
    large.recordSize = 2000;
    chain.AddRecord(0, large);
    const Sample good = Collect(u"Global");
    ASSERT_EQ(good.result, 0u);
    ASSERT_EQ(InstanceNames(good), (std::vector<std::string>{"small", "large"}));
    ClosePerfMon();

    // The n-th allocation of a sample that rebuilds the map fails, for every n
    // until a sample makes fewer allocations than n. A failed rebuild is "no
    // data" (0); the heap snapshot, the sample's last allocation, is
    // ERROR_MORE_DATA. Neither leaves a partial object.
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
        EXPECT_EQ(s.totalBytes, 0u);
        EXPECT_EQ(s.advanced, 0u);
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
