// The writer side seen from outside: the bytes of its blocks as another process
// maps them, and what the library's own reader makes of them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "objectmap/perfmon.h"
#include "platform/emulated/emulated_control.h"
#include "platform/platform.h"
#include "provider.h"

namespace {

using namespace vz;
using provider::StatisticsPublisher;

std::u16string UniqueApplication() {
    const std::string pid = std::to_string(::getpid());
    return u"Provider Test " + std::u16string(pid.begin(), pid.end());
}

DWORD Word(const BYTE* bytes, std::size_t offset) {
    DWORD v;
    std::memcpy(&v, bytes + offset, 4);
    return v;
}

// A reader's read-only view of one block, mapped like the library maps it.
class ReaderView {
public:
    ReaderView(const std::u16string& name, DWORD size) {
        mapping_ = plat::OpenFileMappingW(plat::FILE_MAP_READ, 0, name.c_str());
        if (mapping_ != nullptr)
            view_ = static_cast<const BYTE*>(
                plat::MapViewOfFileEx(mapping_, plat::FILE_MAP_READ, 0, 0, size, nullptr));
    }
    ~ReaderView() {
        if (view_ != nullptr) plat::UnmapViewOfFile(view_);
        if (mapping_ != nullptr) plat::CloseHandle(mapping_);
    }
    const BYTE* bytes() const { return view_; }

private:
    plat::HANDLE mapping_ = nullptr;
    const BYTE* view_ = nullptr;
};

// The library's reader for the test's application name.
class TestMonitor : public ATL::CPerfMon {
public:
    explicit TestMonitor(std::u16string application) : application_(std::move(application)) {}
    const WCHAR* ApplicationName() const override { return application_.c_str(); }
    // The instance names of one collection of everything.
    std::vector<std::u16string> CollectNames() {
        std::vector<BYTE> buffer(1 << 20);
        void* cursor = buffer.data();
        DWORD bytes = static_cast<DWORD>(buffer.size()), count = 0;
        EXPECT_EQ(CollectObject(u"Global", &cursor, &bytes, &count), 0u);
        std::vector<std::u16string> names;
        if (count != 1) return names;
        PERF_OBJECT_TYPE object;
        std::memcpy(&object, buffer.data(), sizeof object);
        std::size_t at = object.DefinitionLength;
        for (LONG i = 0; i < object.NumInstances; ++i) {
            PERF_INSTANCE_DEFINITION instance;
            std::memcpy(&instance, buffer.data() + at, sizeof instance);
            names.emplace_back(reinterpret_cast<const char16_t*>(buffer.data() + at + 24));
            at += instance.ByteLength;
            at += Word(buffer.data(), at);  // the counter block
        }
        return names;
    }

private:
    std::u16string application_;
};

std::size_t NameArea(const provider::MapDescription& map) {
    std::size_t size = 0;
    for (const auto& category : map) {
        size += 4 + ((2 * category.name.size() + 3) & ~std::size_t{3});
        for (const auto& counter : category.counters)
            size += 4 + ((2 * counter.name.size() + 3) & ~std::size_t{3});
    }
    return size;
}

class PublisherTest : public ::testing::Test {
protected:
    void SetUp() override { emu::SetAllocationGranularityValue(4096); }
    void TearDown() override { emu::SetAllocationGranularityValue(65536); }
    const std::u16string application_ = UniqueApplication();
};

TEST_F(PublisherTest, BlockZeroHoldsMapBlockNumberAndOneRecord) {
    const provider::MapDescription map = provider::ServerStatisticsDescription();
    StatisticsPublisher publisher(application_, map);
    ASSERT_TRUE(publisher.Start());
    const provider::InstanceHandle h = publisher.AddInstance(4, u"Quorvane01");
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(publisher.SetCounter(h, 24, 7));
    ASSERT_TRUE(publisher.SetCounters(h, {96}));

    ReaderView block(u"Global\\ATLPERF_" + application_ + u"_000", 4096);
    ASSERT_NE(block.bytes(), nullptr);
    const BYTE* b = block.bytes();
    const DWORD mapSize = static_cast<DWORD>(620 + NameArea(map));
    EXPECT_EQ(Word(b, 0), mapSize);
    EXPECT_EQ(Word(b, 4), 17u);
    const DWORD category[9] = {1, 4, 100, 0, 0, 84, 64, 0, 0};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(Word(b, 8 + 4 * i), category[i]) << "word " << i;
    const DWORD lastCounter[9] = {0, 0, 100, 0x10000, 0, 80, 0, 0, 0};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(Word(b, 8 + 16 * 36 + 4 * i), lastCounter[i]) << i;
    EXPECT_EQ(Word(b, 620), 18u);  // "Quorvane Server 11"
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(b + 624), 18), map[0].name);
    EXPECT_EQ(Word(b, mapSize), 0u);  // block number

    const DWORD d = static_cast<DWORD>(InstanceAreaOffsetFor(mapSize));
    ASSERT_EQ(publisher.InstanceAreaOffset(), d);
    EXPECT_EQ(Word(b, d + kRecordSizeOffset), 212u);
    EXPECT_EQ(Word(b, d + kCategoryIdOffset), 4u);
    EXPECT_NE(Word(b, d + kInstanceIdOffset), 0u);
    EXPECT_EQ(Word(b, d + kUseCountOffset), 1u);
    EXPECT_EQ(Word(b, d + kNameOffsetOffset), 84u);
    EXPECT_EQ(Word(b, d + 20), 96u);
    EXPECT_EQ(Word(b, d + 24), 7u);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(b + d + 84)), u"Quorvane01");
    EXPECT_EQ(Word(b, d + 212), 0u);  // end of all data
    // Values stay inside the record's fixed part.
    EXPECT_FALSE(publisher.SetCounter(h, 84, 1));
    EXPECT_FALSE(publisher.SetCounter(h, 16, 1));
}

TEST_F(PublisherTest, FullBlockSpillsIntoTheNextAndTheReaderFollows) {
    StatisticsPublisher publisher(application_, provider::ServerStatisticsDescription());
    ASSERT_TRUE(publisher.Start());
    const DWORD d = publisher.InstanceAreaOffset();
    const DWORD perBlock = (4096 - d - 4) / 212;
    std::vector<std::u16string> names;
    for (DWORD i = 0; i < perBlock + 2; ++i) {
        names.push_back(u"db" + std::u16string(1, static_cast<char16_t>(u'A' + i)));
        ASSERT_NE(publisher.AddInstance(4, names.back()), 0u);
    }
    ASSERT_EQ(publisher.BlockCount(), 2u);
    ReaderView block0(publisher.BlockNameOf(0), 4096), block1(publisher.BlockNameOf(1), 4096);
    ASSERT_NE(block1.bytes(), nullptr);
    EXPECT_EQ(Word(block0.bytes(), d + perBlock * 212), 0xFFFFFFFFu);
    EXPECT_EQ(Word(block1.bytes(), publisher.MapSize()), 1u);
    EXPECT_EQ(Word(block1.bytes(), d), 212u);
    EXPECT_EQ(Word(block1.bytes(), d + 212), 212u);
    EXPECT_EQ(Word(block1.bytes(), d + 2 * 212), 0u);
    TestMonitor monitor(application_);
    EXPECT_EQ(monitor.CollectNames(), names);
    monitor.CloseObject();
}

TEST_F(PublisherTest, FreedRecordIsReusedUnderANewIdentity) {
    StatisticsPublisher publisher(application_, provider::ServerStatisticsDescription());
    ASSERT_TRUE(publisher.Start());
    const provider::InstanceHandle a = publisher.AddInstance(4, u"alpha");
    const provider::InstanceHandle b = publisher.AddInstance(4, u"beta");
    const provider::InstanceHandle c = publisher.AddInstance(4, u"gamma");
    ASSERT_TRUE(publisher.SetCounter(b, 20, 55));
    DWORD block = 0, offset = 0;
    ASSERT_TRUE(publisher.Locate(b, &block, &offset));
    const DWORD firstId = publisher.InstanceIdOf(b);
    ReaderView view(publisher.BlockNameOf(0), 4096);

    ASSERT_TRUE(publisher.RemoveInstance(b));
    EXPECT_EQ(Word(view.bytes(), offset + kUseCountOffset), 0u);
    const DWORD freedId = Word(view.bytes(), offset + kInstanceIdOffset);
    EXPECT_NE(freedId, firstId);
    EXPECT_FALSE(publisher.SetCounter(b, 20, 1));
    EXPECT_FALSE(publisher.RemoveInstance(b));
    TestMonitor monitor(application_);
    EXPECT_EQ(monitor.CollectNames(), (std::vector<std::u16string>{u"alpha", u"gamma"}));

    const provider::InstanceHandle d = publisher.AddInstance(4, u"delta");
    DWORD reusedBlock = 1, reusedOffset = 0;
    ASSERT_TRUE(publisher.Locate(d, &reusedBlock, &reusedOffset));
    EXPECT_EQ(reusedBlock, block);
    EXPECT_EQ(reusedOffset, offset);
    const DWORD newId = Word(view.bytes(), offset + kInstanceIdOffset);
    EXPECT_GT(newId, freedId);
    EXPECT_GT(newId, publisher.InstanceIdOf(c));
    EXPECT_EQ(Word(view.bytes(), offset + kUseCountOffset), 1u);
    EXPECT_EQ(Word(view.bytes(), offset + 20), 0u);  // the old occupant's value is gone
    EXPECT_EQ(monitor.CollectNames(), (std::vector<std::u16string>{u"alpha", u"delta", u"gamma"}));
    monitor.CloseObject();
    (void)a;
}

}  // namespace
