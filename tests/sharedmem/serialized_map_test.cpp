// The serialized-map reader and the output templates it prepares.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "common/serialized_map_builder.h"
#include "objectmap/perfmon.h"
#include "server_object.h"
#include "support/atl_exception.h"
#include "support/utf_text.h"

namespace vz {
namespace {

using test::SerializedMapBuilder;

class ReaderMonitor : public ATL::CPerfMon {
public:
    const WCHAR* ApplicationName() const override { return u"Reader Test"; }
};

// The bytes in a heap block of exactly their size, so that ASan sees any
// read past the end.
HRESULT ReadExact(ATL::CPerfMon& monitor, const std::vector<uint8_t>& bytes, std::size_t length) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[length ? length : 1]);
    std::memcpy(copy.get(), bytes.data(), std::min(length, bytes.size()));
    return monitor.ReadSerializedMap(copy.get(), length);
}

TEST(SerializedMap, ServerStatisticsMapWithoutNames) {
    std::vector<uint8_t> bytes = test::ServerStatisticsMap(238).Build(false);
    ASSERT_EQ(bytes.size(), 620u);
    ReaderMonitor monitor;
    ASSERT_EQ(ReadExact(monitor, bytes, bytes.size()), S_OK);
    ASSERT_EQ(monitor.categories.GetCount(), 1u);
    CategoryRecord& category = monitor.categories[0];
    EXPECT_EQ(category.id, 4u);
    EXPECT_EQ(category.nameTitleIndex, 238u);
    EXPECT_EQ(category.helpTitleIndex, 239u);
    EXPECT_EQ(category.noInstances, 0u);
    EXPECT_EQ(category.instanceRecordSize, 212u);
    EXPECT_TRUE(category.name.IsEmpty());
    ASSERT_EQ(category.counters.GetCount(), 16u);
    for (std::size_t i = 0; i < 16; ++i) {
        const CounterRecord& counter = category.counters[i];
        EXPECT_EQ(counter.dataOffset, 20 + 4 * i);
        EXPECT_EQ(counter.nameTitleIndex, 240 + 2 * i);
        EXPECT_EQ(counter.helpTitleIndex, 241 + 2 * i);
        EXPECT_TRUE(counter.name.IsEmpty() && counter.help.IsEmpty());
        EXPECT_EQ(counter.definitionTemplate.CounterOffset, 8 + 4 * i);
        EXPECT_EQ(counter.definitionTemplate.CounterSize, 4u);
        EXPECT_EQ(counter.definitionTemplate.CounterNameTitleIndex, 240 + 2 * i);
    }
    EXPECT_EQ(category.counterBlockSize, 72u);
    const PERF_OBJECT_TYPE& object = category.objectTemplate;
    EXPECT_EQ(object.TotalByteLength, 704u);
    EXPECT_EQ(object.DefinitionLength, 704u);
    EXPECT_EQ(object.HeaderLength, 64u);
    EXPECT_EQ(object.NumCounters, 16u);
    EXPECT_EQ(object.NumInstances, 0);
    EXPECT_EQ(object.DetailLevel, 100u);
    EXPECT_EQ(object.ObjectNameTitleIndex, 238u);
    EXPECT_EQ(object.ObjectHelpTitleIndex, 239u);
}

TEST(SerializedMap, NamesOfLengthZeroToThreeTakeFourEightEightTwelveBytes) {
    SerializedMapBuilder map;
    map.Category(1, 0, 24, 8, 10, 11, u"")
        .Counter(0, 20, 12, 13, u"a")
        .Counter(0, 20, 14, 15, u"bc")
        .Counter(0, 20, 16, 17, u"def");
    std::vector<uint8_t> bytes = map.Build(true);
    ASSERT_EQ(bytes.size(), 8 + 4 * 36 + 4 + 8 + 8 + 12u);
    ReaderMonitor monitor;
    ASSERT_EQ(ReadExact(monitor, bytes, bytes.size()), S_OK);
    const CategoryRecord& category = monitor.categories[0];
    EXPECT_EQ(category.name.ToU16(), u"");
    EXPECT_EQ(category.counters[0].name.ToU16(), u"a");
    EXPECT_EQ(category.counters[1].name.ToU16(), u"bc");
    EXPECT_EQ(category.counters[2].name.ToU16(), u"def");
}

// Map size exactly 8 + 36N: no name area. One byte more announces names that
// are not there, and the map is refused rather than read past its end.
TEST(SerializedMap, NameAreaStartsOnlyBeyondTheEntries) {
    std::vector<uint8_t> bytes = SerializedMapBuilder().Category(7, 0, 20, 4).Build(false);
    ReaderMonitor monitor;
    ASSERT_EQ(ReadExact(monitor, bytes, bytes.size()), S_OK);
    EXPECT_EQ(monitor.categories.GetCount(), 1u);

    bytes.push_back(0);
    test::PutWord(bytes, 0, static_cast<uint32_t>(bytes.size()));
    EXPECT_EQ(ReadExact(monitor, bytes, bytes.size()), E_FAIL);
    EXPECT_EQ(monitor.categories.GetCount(), 0u);
}

TEST(SerializedMap, CounterEntryFirstIsOutOfMemoryAndLeavesTheMapEmpty) {
    std::vector<uint8_t> bytes =
        SerializedMapBuilder().Counter(0, 20).Category(1, 0, 24, 4).Build(false);
    ReaderMonitor monitor;
    ASSERT_EQ(monitor.AddCategoryRecord(9, u"old", nullptr, 100, 0, false, 20, 0), S_OK);
    EXPECT_EQ(ReadExact(monitor, bytes, bytes.size()), E_OUTOFMEMORY);
    EXPECT_EQ(monitor.categories.GetCount(), 0u);
}

TEST(SerializedMap, AnyNonZeroNoInstancesFlagMeansNoInstances) {
    for (uint32_t flag : {1u, 0xFFFFFFFFu}) {
        std::vector<uint8_t> bytes = SerializedMapBuilder().Category(3, flag, 24, 0).Build(false);
        ReaderMonitor monitor;
        ASSERT_EQ(ReadExact(monitor, bytes, bytes.size()), S_OK);
        EXPECT_EQ(monitor.categories[0].noInstances, 0xFFFFFFFFu);
        EXPECT_EQ(monitor.categories[0].objectTemplate.NumInstances, PERF_NO_INSTANCES);
    }
}

// Every prefix of a valid map with names is refused, none is read beyond.
TEST(SerializedMap, TruncatedMapsAreRefusedWithoutReadingPastTheBuffer) {
    std::vector<uint8_t> bytes = test::ServerStatisticsMap(238, true).Build(true);
    ReaderMonitor monitor;
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        ASSERT_EQ(ReadExact(monitor, bytes, length), E_FAIL) << length;
        ASSERT_EQ(monitor.categories.GetCount(), 0u);
    }
    EXPECT_EQ(ReadExact(monitor, bytes, bytes.size()), S_OK);
    EXPECT_EQ(monitor.categories[0].counters[15].name.ToU16(),
              Utf8ToUtf16(quorvane::kCounters[15].name));
}

struct HostileCase {
    const char* what;
    std::size_t offset;
    uint32_t value;
};

TEST(SerializedMap, HostileSizesAreRefused) {
    const std::vector<uint8_t> valid =
        SerializedMapBuilder().Category(1, 0, 24, 4, 0, 0, u"cat").Counter(0, 20).Build(true);
    const std::size_t names = 8 + 2 * 36;
    const HostileCase cases[] = {
        {"entry count beyond the buffer", 4, 3},
        {"entry count overflows 36 x N", 4, 0x71C71C72u},
        {"name length beyond the map", names, 0x7FFFFFFFu},
        {"name length doubling wraps", names, 0x80000001u},
        {"second name beyond the map", names + 12, 1000},
    };
    for (const HostileCase& c : cases) {
        std::vector<uint8_t> bytes = valid;
        test::PutWord(bytes, c.offset, c.value);
        ReaderMonitor monitor;
        EXPECT_EQ(ReadExact(monitor, bytes, bytes.size()), E_FAIL) << c.what;
        EXPECT_EQ(monitor.categories.GetCount(), 0u) << c.what;
    }
}

// The map size says only whether names follow the entries; the names are
// bounded by the source, whatever the map size claims beyond that.
TEST(SerializedMap, NamesAreBoundedByTheSourceNotByTheMapSize) {
    const std::vector<uint8_t> valid = SerializedMapBuilder()
                                           .Category(1, 0, 24, 4, 0, 0, u"cat")
                                           .Counter(0, 20, 0, 0, u"counter")
                                           .Build(true);
    const uint32_t entriesEnd = 8 + 2 * 36;
    for (uint32_t mapSize : {entriesEnd + 1, entriesEnd + 8, static_cast<uint32_t>(valid.size() + 1),
                             0xFFFFFFFFu}) {
        std::vector<uint8_t> bytes = valid;
        test::PutWord(bytes, 0, mapSize);
        ReaderMonitor monitor;
        ASSERT_EQ(ReadExact(monitor, bytes, bytes.size()), S_OK) << mapSize;
        EXPECT_EQ(monitor.categories[0].name.ToU16(), u"cat") << mapSize;
        EXPECT_EQ(monitor.categories[0].counters[0].name.ToU16(), u"counter") << mapSize;
    }
}

struct LayoutCase {
    const char* what;
    std::vector<std::pair<uint32_t, uint32_t>> counters;  // type, max characters
    std::vector<uint32_t> offsets;
    uint32_t blockSize;
};

TEST(OutputTemplates, CounterPlacement) {
    const LayoutCase cases[] = {
        {"DWORD then LARGE", {{0x000, 0}, {0x100, 0}}, {8, 16}, 24},
        {"zero-size between DWORDs", {{0x000, 0}, {0x200, 0}, {0x000, 0}}, {8, 12, 12}, 16},
        {"no counters", {}, {}, 8},
        {"ASCII text of 5", {{0x300 | 0x10000, 5}, {0x000, 0}}, {8, 16}, 24},
        {"UTF-16 text of 5 unaligned", {{0x000, 0}, {0x300, 5}}, {8, 12}, 24},
        {"LARGE after DWORD realigns", {{0x000, 0}, {0x000, 0}, {0x100, 0}}, {8, 12, 16}, 24},
    };
    for (const LayoutCase& c : cases) {
        SerializedMapBuilder map;
        map.Category(1, 0, 100, 0);
        for (auto [type, max] : c.counters) map.Counter(type, 20, 0, 0, u"", max);
        std::vector<uint8_t> bytes = map.Build(false);
        ReaderMonitor monitor;
        ASSERT_EQ(ReadExact(monitor, bytes, bytes.size()), S_OK) << c.what;
        const CategoryRecord& category = monitor.categories[0];
        EXPECT_EQ(category.objectTemplate.DefinitionLength, 64 + 40 * c.counters.size()) << c.what;
        for (std::size_t i = 0; i < c.offsets.size(); ++i)
            EXPECT_EQ(category.counters[i].definitionTemplate.CounterOffset, c.offsets[i])
                << c.what << " counter " << i;
        EXPECT_EQ(category.counterBlockSize, c.blockSize) << c.what;
    }
}

TEST(OutputTemplates, TextSizesAndHugeTextRefused) {
    std::vector<uint8_t> bytes = SerializedMapBuilder()
                                     .Category(1, 0, 100, 0)
                                     .Counter(0x300 | 0x10000, 20, 0, 0, u"", 6)
                                     .Counter(0x300, 30, 0, 0, u"", 6)
                                     .Build(false);
    ReaderMonitor monitor;
    ASSERT_EQ(ReadExact(monitor, bytes, bytes.size()), S_OK);
    EXPECT_EQ(monitor.categories[0].counters[0].definitionTemplate.CounterSize, 8u);
    EXPECT_EQ(monitor.categories[0].counters[1].definitionTemplate.CounterSize, 12u);

    // A layout that would not fit 32 bits is a map the reader refuses.
    bytes = SerializedMapBuilder()
                .Category(1, 0, 100, 0)
                .Counter(0x300, 20, 0, 0, u"", 0xFFFFFFF0u)
                .Counter(0x300, 20, 0, 0, u"", 0xFFFFFFF0u)
                .Build(false);
    EXPECT_EQ(ReadExact(monitor, bytes, bytes.size()), E_FAIL);
    EXPECT_TRUE(monitor.categories.IsEmpty());
}

}  // namespace
}  // namespace vz
