// The perflib entry points end to end: the bytes they leave in perflib's
// buffer, with the provider's blocks in real shared memory and the map copy in
// the emulated registry.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "collect/perf_exports.h"
#include "common/serialized_map_builder.h"
#include "common/shm_fixture.h"
#include "objectmap/perfmon.h"
#include "platform/emulated/emulated_control.h"
#include "support/allocation.h"

namespace vz {
namespace {

using test::GetWord;
using test::InstanceRecordLayout;
using test::ProviderChain;

const std::u16string kApplication = u"Quorvane Server ITA";
const char16_t kPerformanceKey[] =
    u"SYSTEM\\CurrentControlSet\\Services\\Quorvane Server ITA\\Performance";

void SetMapValue(DWORD type, const std::vector<uint8_t>& bytes) {
    plat::HKEY key = nullptr;
    ASSERT_EQ(plat::RegCreateKeyExW(plat::HKeyLocalMachine(), kPerformanceKey, 0, nullptr, 0,
                                    plat::KEY_READ | plat::KEY_WRITE, nullptr, &key, nullptr),
              0);
    ASSERT_EQ(plat::RegSetValueExW(key, u"Map", 0, type, bytes.data(),
                                   static_cast<DWORD>(bytes.size())),
              0);
    plat::RegCloseKey(key);
}

struct Sample {
    DWORD result = 0;
    DWORD totalBytes = 0;
    DWORD objects = 0;
    std::size_t advanced = 0;
    std::vector<uint8_t> bytes;  // what was written
};

Sample Collect(const char16_t* query, DWORD capacity = 1 << 20, DWORD objectsBefore = 0) {
    Sample s;
    std::vector<uint8_t> buffer(capacity + 1, 0xCC);
    void* data = buffer.data();
    s.totalBytes = capacity;
    s.objects = objectsBefore;
    s.result = CollectPerfMon(query, &data, &s.totalBytes, &s.objects);
    s.advanced = static_cast<uint8_t*>(data) - buffer.data();
    s.bytes.assign(buffer.begin(), buffer.begin() + s.advanced);
    return s;
}

InstanceRecordLayout Instance(uint32_t id, std::u16string name, uint32_t firstValue = 1000) {
    InstanceRecordLayout layout;
    layout.instanceId = id;
    layout.name = std::move(name);
    for (uint32_t i = 0; i < 16; ++i) layout.values.push_back(firstValue + i);
    return layout;
}

// Instance names in output order, read back from the object in the buffer.
std::vector<std::u16string> InstanceNames(const std::vector<uint8_t>& bytes) {
    std::vector<std::u16string> names;
    const int32_t count = static_cast<int32_t>(GetWord(bytes.data(), 40));
    std::size_t at = GetWord(bytes.data(), 4);  // DefinitionLength
    for (int32_t i = 0; i < count && at + 24 <= bytes.size(); ++i) {
        const uint32_t length = GetWord(bytes.data(), at + 20);
        std::u16string name(length / 2 - 1, u'\0');
        std::memcpy(&name[0], bytes.data() + at + 24, length - 2);
        names.push_back(name);
        at += GetWord(bytes.data(), at) + GetWord(bytes.data(), at + GetWord(bytes.data(), at));
    }
    return names;
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
    std::vector<uint8_t> map_ = test::ServerStatisticsMap(238).Build(false);
};

TEST_F(CollectTest, NoProviderAndNoRegisteredMapGivesNoData) {
    EXPECT_EQ(OpenPerfMon(nullptr), 0u);
    Sample s = Collect(u"Global", 4096, 5);
    EXPECT_EQ(s.result, 0u);
    EXPECT_EQ(s.totalBytes, 0u);
    EXPECT_EQ(s.objects, 0u);
    EXPECT_EQ(s.advanced, 0u);
}

TEST_F(CollectTest, RegisteredMapDescribesTheObjectIn704Bytes) {
    // 621 bytes: one byte beyond the map it carries, read into whole words.
    std::vector<uint8_t> value = map_;
    value.push_back(0);
    SetMapValue(plat::REG_BINARY, value);
    Sample s = Collect(u"Global", 4096, 5);
    ASSERT_EQ(s.result, 0u);
    EXPECT_EQ(s.totalBytes, 704u);
    EXPECT_EQ(s.objects, 6u);
    ASSERT_EQ(s.advanced, 704u);
    const uint8_t* b = s.bytes.data();
    const uint32_t header[] = {704, 704, 64, 238, 0, 239, 0, 100, 16, 0, 0, 0};
    for (std::size_t i = 0; i < 12; ++i) EXPECT_EQ(GetWord(b, 4 * i), header[i]) << "word " << i;
    EXPECT_EQ(GetWord(b, 48), 0u);  // PerfTime
    EXPECT_EQ(GetWord(b, 52), 0u);
    for (uint32_t i = 0; i < 16; ++i) {
        const uint8_t* d = b + 64 + 40 * i;
        const uint32_t definition[] = {40, 240 + 2 * i, 0, 241 + 2 * i, 0,
                                       0,  100,         0x00010000,  4, 8 + 4 * i};
        for (std::size_t w = 0; w < 10; ++w)
            EXPECT_EQ(GetWord(d, 4 * w), definition[w]) << "counter " << i << " word " << w;
    }
}

TEST_F(CollectTest, RegisteredMapOfTheWrongTypeOrMissingIsIgnored) {
    SetMapValue(plat::REG_DWORD, {1, 0, 0, 0});
    Sample s = Collect(u"Global");
    EXPECT_EQ(s.result, 0u);
    EXPECT_EQ(s.totalBytes, 0u);
    EXPECT_EQ(s.advanced, 0u);
    SetMapValue(plat::REG_SZ, {u8'6', 0, u8'2', 0, 0, 0});
    EXPECT_EQ(Collect(u"Global").totalBytes, 0u);
    // A broken map in the value is read no further than its bytes.
    std::vector<uint8_t> broken(map_.begin(), map_.begin() + 100);
    SetMapValue(plat::REG_BINARY, broken);
    EXPECT_EQ(Collect(u"Global").totalBytes, 0u);
    SetMapValue(plat::REG_BINARY, map_);
    EXPECT_EQ(Collect(u"Global").totalBytes, 704u);
}

TEST_F(CollectTest, OneInstanceWithAFiveCharacterNameIs816Bytes) {
    ProviderChain chain(kApplication, map_);
    chain.CreateBlock(0);
    chain.AddRecord(0, Instance(7, u"Alpha"));
    Sample s = Collect(u"Global");
    ASSERT_EQ(s.result, 0u);
    ASSERT_EQ(s.totalBytes, 816u);
    ASSERT_EQ(s.advanced, 816u);
    EXPECT_EQ(s.objects, 1u);
    const uint8_t* b = s.bytes.data();
    EXPECT_EQ(GetWord(b, 0), 816u);   // TotalByteLength
    EXPECT_EQ(GetWord(b, 40), 1u);    // NumInstances
    const uint8_t* instance = b + 704;
    const uint32_t definition[] = {40, 0, 0, 0xFFFFFFFFu, 24, 12};
    for (std::size_t w = 0; w < 6; ++w) EXPECT_EQ(GetWord(instance, 4 * w), definition[w]) << w;
    EXPECT_EQ(std::memcmp(instance + 24, u"Alpha", 12), 0);
    const uint8_t* block = instance + 40;
    EXPECT_EQ(GetWord(block, 0), 72u);
    for (uint32_t i = 0; i < 16; ++i) EXPECT_EQ(GetWord(block, 8 + 4 * i), 1000 + i) << i;
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

TEST_F(CollectTest, ShortBufferIsMoreDataAndARetrySucceeds) {
    ProviderChain chain(kApplication, map_);
    chain.CreateBlock(0);
    chain.AddRecord(0, Instance(7, u"Alpha"));
    for (DWORD capacity : {0u, 63u, 704u, 815u}) {
        Sample s = Collect(u"Global", capacity, 2);
        EXPECT_EQ(s.result, 234u) << capacity;
        EXPECT_EQ(s.totalBytes, 0u) << capacity;
        EXPECT_EQ(s.objects, 0u) << capacity;
        EXPECT_EQ(s.advanced, 0u) << capacity;
    }
    Sample s = Collect(u"Global", 816);
    EXPECT_EQ(s.result, 0u);
    EXPECT_EQ(s.totalBytes, 816u);
}

TEST_F(CollectTest, ChainedBlocksAreWalkedUpToTheFirstMissingOne) {
    ProviderChain chain(kApplication, map_);
    chain.CreateBlock(0);
    chain.AddRecord(0, Instance(1, u"b0"));
    chain.EndBlock(0);
    chain.CreateBlock(1);
    chain.AddRecord(1, Instance(2, u"b1-first"));
    chain.AddRecord(1, Instance(3, u"b1-second"));
    chain.EndBlock(1);
    chain.CreateBlock(3);
    chain.AddRecord(3, Instance(5, u"b3"));

    Sample s = Collect(u"Global");
    ASSERT_EQ(s.result, 0u);
    EXPECT_EQ(InstanceNames(s.bytes),
              (std::vector<std::u16string>{u"b0", u"b1-first", u"b1-second"}));

    chain.CreateBlock(2);
    chain.AddRecord(2, Instance(4, u"b2"));
    chain.EndBlock(2);
    s = Collect(u"Global");
    EXPECT_EQ(InstanceNames(s.bytes),
              (std::vector<std::u16string>{u"b0", u"b1-first", u"b1-second", u"b2", u"b3"}));
}

TEST_F(CollectTest, RecordsThatAreNotLiveOrNotOursAreStepped) {
    ProviderChain chain(kApplication, map_);
    chain.CreateBlock(0);
    chain.AddRecord(0, Instance(1, u"first"));
    InstanceRecordLayout free = Instance(2, u"free");
    free.useCount = 0;
    chain.AddRecord(0, free);
    InstanceRecordLayout other = Instance(3, u"other");
    other.categoryId = 9;
    chain.AddRecord(0, other);
    chain.AddRecord(0, Instance(4, u"second"));
    InstanceRecordLayout stop;  // RecordSize 0 ends all instance data
    stop.recordSize = 0;
    chain.AddRecord(0, stop);
    chain.AddRecord(0, Instance(5, u"hidden"));
    Sample s = Collect(u"Global");
    EXPECT_EQ(InstanceNames(s.bytes), (std::vector<std::u16string>{u"first", u"second"}));
    EXPECT_EQ(GetWord(s.bytes.data(), 0), 704u + 2 * (24 + 16 + 72));
}

TEST_F(CollectTest, InstancesAppearingLaterAreReported) {
    ProviderChain chain(kApplication, map_);
    chain.CreateBlock(0);
    EXPECT_EQ(Collect(u"Global").totalBytes, 704u);
    chain.AddRecord(0, Instance(1, u"late"));
    Sample s = Collect(u"Global");
    EXPECT_EQ(InstanceNames(s.bytes), (std::vector<std::u16string>{u"late"}));
}

// Each hostile record ends the walk or is skipped; none is read outside the
// view or outside its own RecordSize, and the sample still succeeds.
TEST_F(CollectTest, HostileRecordsNeverLeaveTheirBounds) {
    struct Case {
        const char* what;
        uint32_t recordSize;
        uint32_t nameOffset;
        bool terminateName;
        std::vector<std::u16string> expected;
    };
    const Case cases[] = {
        {"record beyond the view", 0x00F00000u, 84, true, {u"ok"}},
        {"record shorter than its header", 12, 84, true, {u"ok"}},
        {"name offset beyond the record", 212, 4000, true, {u"ok", u"after"}},
        {"name without terminator", 212, 84, false, {u"ok", u"after"}},
        {"values beyond the record", 40, 24, true, {u"ok", u"after"}},
    };
    for (const Case& c : cases) {
        ClosePerfMon();
        ProviderChain chain(kApplication, map_);
        chain.CreateBlock(0);
        chain.AddRecord(0, Instance(1, u"ok"));
        InstanceRecordLayout bad = Instance(2, u"");
        bad.recordSize = c.recordSize < 1000 ? c.recordSize : 212;
        bad.nameOffset = c.nameOffset;
        std::size_t at = chain.AddRecord(0, bad);
        chain.PutWord(0, at, c.recordSize);
        if (!c.terminateName)
            for (uint32_t o = 84; o < 212; o += 4) chain.PutWord(0, at + o, 0x00410041u);
        if (c.recordSize >= 20 && c.recordSize < 1000) chain.AddRecord(0, Instance(3, u"after"));
        Sample s = Collect(u"Global");
        EXPECT_EQ(s.result, 0u) << c.what;
        EXPECT_EQ(InstanceNames(s.bytes), c.expected) << c.what;
    }
}

TEST_F(CollectTest, EndMarkFirstInABlockGivesNoData) {
    ProviderChain chain(kApplication, map_);
    chain.CreateBlock(0);
    chain.AddRecord(0, Instance(1, u"a"));
    chain.EndBlock(0);
    chain.CreateBlock(1);
    chain.EndBlock(1);
    Sample s = Collect(u"Global");
    EXPECT_EQ(s.result, 0u);
    EXPECT_EQ(s.totalBytes, 0u);
    EXPECT_EQ(s.advanced, 0u);
}

TEST_F(CollectTest, BrokenMapInBlockZeroGivesNoDataAndKeepsNoBlock) {
    std::vector<uint8_t> broken = map_;
    test::PutWord(broken, 4, 2000);  // more entries than the whole view holds
    ProviderChain chain(kApplication, broken);
    chain.CreateBlock(0);
    SetMapValue(plat::REG_BINARY, map_);
    Sample s = Collect(u"Global");
    EXPECT_EQ(s.result, 0u);
    EXPECT_EQ(s.totalBytes, 0u);
    EXPECT_EQ(emu::OpenMappingCount(), 0u);
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
    std::vector<uint8_t> map = test::SerializedMapBuilder()
                                   .Category(6, 0xFFFFFFFFu, 80, 0, 500, 501)
                                   .Counter(0x000, 20)
                                   .Counter(0x100, 24)
                                   .Counter(0x300, 32, 0, 0, u"", 8)
                                   .Counter(0x300 | 0x10000, 72, 0, 0, u"", 4)
                                   .Build(false);
    ProviderChain chain(kApplication, map);
    chain.CreateBlock(0);
    Sample s = Collect(u"500");
    ASSERT_EQ(s.totalBytes, 64u + 4 * 40 + 48);
    const uint8_t* block = s.bytes.data() + 224;
    EXPECT_EQ(static_cast<int32_t>(GetWord(s.bytes.data(), 40)), -1);
    EXPECT_EQ(GetWord(block, 0), 48u);
    EXPECT_EQ(GetWord(block, 4), 0xCCCCCCCCu);  // reserved bytes are not written
    EXPECT_EQ(GetWord(block, 12), 0xCCCCCCCCu);  // nor is the gap before the LARGE value
    for (std::size_t at : {8, 16, 20, 24, 28, 32, 36, 40}) EXPECT_EQ(GetWord(block, at), 0u) << at;

    InstanceRecordLayout layout;
    layout.recordSize = 80;
    layout.categoryId = 6;
    layout.nameOffset = 76;
    layout.values = {111, 0x89ABCDEFu, 0x01234567u};
    for (char16_t c = u'a'; c < u'a' + 20; c += 2) layout.values.push_back(c | (c + 1u) << 16);
    layout.values.push_back(0x7A797877u);  // "wxyz"
    chain.AddRecord(0, layout);
    s = Collect(u"500");
    ASSERT_EQ(s.totalBytes, 272u);
    block = s.bytes.data() + 224;
    EXPECT_EQ(static_cast<int32_t>(GetWord(s.bytes.data(), 40)), -1);
    EXPECT_EQ(GetWord(block, 8), 111u);
    EXPECT_EQ(GetWord(block, 16), 0x89ABCDEFu);
    EXPECT_EQ(GetWord(block, 20), 0x01234567u);
    EXPECT_EQ(std::memcmp(block + 24, u"abcdefg", 16), 0);  // 7 characters and the zero
    EXPECT_EQ(std::memcmp(block + 40, "wxy", 4), 0);
}

// A category without instances has exactly one counter block: that of the
// first record that passes the snapshot check, else the zero-filled one.
TEST_F(CollectTest, CategoryWithoutInstancesHasExactlyOneCounterBlock) {
    const std::vector<uint8_t> map =
        test::SerializedMapBuilder().Category(6, 1, 28, 0, 500, 501).Counter(0x000, 20).Counter(0x000, 24).Build(false);
    auto record = [](uint32_t instanceId, uint32_t useCount, uint32_t first) {
        InstanceRecordLayout layout;
        layout.recordSize = 32;
        layout.categoryId = 6;
        layout.instanceId = instanceId;
        layout.useCount = useCount;
        layout.nameOffset = 28;
        layout.values = {first, first + 1};
        return layout;
    };
    struct Case {
        const char* what;
        std::vector<InstanceRecordLayout> records;
        uint32_t firstValue;  // in the one counter block
    };
    const Case cases[] = {
        {"two live records", {record(1, 1, 10), record(2, 1, 20)}, 10},
        {"a freed record, then a live one", {record(1, 0, 10), record(2, 1, 20)}, 20},
        {"only freed records", {record(1, 0, 10), record(2, 0, 20)}, 0},
    };
    for (const Case& c : cases) {
        ProviderChain chain(kApplication, map);
        chain.CreateBlock(0);
        for (const InstanceRecordLayout& layout : c.records) chain.AddRecord(0, layout);
        Sample s = Collect(u"500");
        ASSERT_EQ(s.totalBytes, 64u + 2 * 40 + 16) << c.what;
        EXPECT_EQ(GetWord(s.bytes.data(), 0), 64u + 2 * 40 + 16) << c.what;
        EXPECT_EQ(static_cast<int32_t>(GetWord(s.bytes.data(), 40)), -1) << c.what;
        const uint8_t* block = s.bytes.data() + 144;
        EXPECT_EQ(GetWord(block, 0), 16u) << c.what;
        EXPECT_EQ(GetWord(block, 8), c.firstValue) << c.what;
        EXPECT_EQ(GetWord(block, 12), c.firstValue == 0 ? 0 : c.firstValue + 1) << c.what;
        ClosePerfMon();
    }
}

TEST_F(CollectTest, SteadyStateSampleAllocatesNothing) {
    ProviderChain chain(kApplication, map_);
    chain.CreateBlock(0);
    for (uint32_t i = 0; i < 50; ++i) chain.AddRecord(0, Instance(i + 1, u"instance"));
    std::vector<uint8_t> buffer(1 << 20);
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
    ASSERT_EQ(InstanceNames(good.bytes), (std::vector<std::u16string>{u"small", u"large"}));
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
