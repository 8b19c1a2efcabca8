// The serialized-map reader and the output templates it prepares.
#include <gtest/gtest.h>

#include <memory>

#include "common/layout_builder.h"
#include "objectmap/perfmon.h"
#include "platform/platform.h"

namespace vz {
namespace {

using test::Bytes;
using test::SerializedMapBuilder;

class ReaderMonitor : public ATL::CPerfMon {
public:
    const WCHAR* ApplicationName() const override { return u"Reader Test"; }
};

// The bytes in a heap block of exactly their size, so that ASan sees any
// read past the end.
HRESULT ReadExact(ATL::CPerfMon& monitor, const Bytes& bytes, std::size_t length) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[length ? length : 1]);
    std::memcpy(copy.get(), bytes.data(), std::min(length, bytes.size()));
    return monitor.ReadSerializedMap(copy.get(), length);
}

// The templates are the object header and definitions Collect starts from.
TEST(SerializedMap, ServerStatisticsMapGivesTheObjectsTemplates) {
    Bytes bytes = test::ServerStatisticsMap(238).Build(false);
    ASSERT_EQ(bytes.size(), MapEntriesEnd(17));
    ReaderMonitor monitor;
    ASSERT_EQ(ReadExact(monitor, bytes, bytes.size()), S_OK);
    ASSERT_EQ(monitor.categories.GetCount(), 1u);
    const CategoryRecord& category = monitor.categories[0];
    EXPECT_EQ(category.id, 4u);
    EXPECT_EQ(category.noInstances, 0u);
    EXPECT_EQ(category.instanceRecordSize, 212u);
    EXPECT_TRUE(category.name.IsEmpty());
    EXPECT_EQ(category.counterBlockSize, 72u);
    ASSERT_EQ(category.counters.GetCount(), 16u);

    test::PerfObjectWriter expected = test::PublishedObject(238);
    plat::QueryPerformanceFrequency(&expected.header.PerfFreq);
    const Bytes object = expected.Build();
    EXPECT_EQ(std::memcmp(&category.objectTemplate, object.data(), sizeof(PERF_OBJECT_TYPE)), 0);
    for (std::size_t i = 0; i < 16; ++i) {
        const CounterRecord& counter = category.counters[i];
        EXPECT_EQ(counter.dataOffset, kRecordHeaderSize + 4 * i);
        EXPECT_TRUE(counter.name.IsEmpty() && counter.help.IsEmpty());
        EXPECT_EQ(std::memcmp(&counter.definitionTemplate, object.data() + expected.counterAt(i),
                              sizeof(PERF_COUNTER_DEFINITION)), 0) << i;
    }
}

// Names of 0 to 3 units take 4, 8, 8 and 12 bytes. Map size exactly 8 + 36N:
// no name area; one byte more announces names that are not there, and the
// map is refused rather than read past its end.
TEST(SerializedMap, NameRecordsStartOnlyBeyondTheEntries) {
    Bytes bytes = SerializedMapBuilder()
                      .Category(1, 0, 24, 8, 10, 11, u"")
                      .Counter(0, 20, 12, 13, u"a")
                      .Counter(0, 20, 14, 15, u"bc")
                      .Counter(0, 20, 16, 17, u"def")
                      .Build(true);
    ASSERT_EQ(bytes.size(), MapEntriesEnd(4) + 4 + 8 + 8 + 12);
    ReaderMonitor monitor;
    ASSERT_EQ(ReadExact(monitor, bytes, bytes.size()), S_OK);
    const CategoryRecord& category = monitor.categories[0];
    EXPECT_EQ(category.name.ToU16(), u"");
    EXPECT_EQ(category.counters[0].name.ToU16(), u"a");
    EXPECT_EQ(category.counters[1].name.ToU16(), u"bc");
    EXPECT_EQ(category.counters[2].name.ToU16(), u"def");

    bytes = SerializedMapBuilder().Category(7, 0, 20, 4).Build(false);
    ASSERT_EQ(ReadExact(monitor, bytes, bytes.size()), S_OK);
    EXPECT_EQ(monitor.categories.GetCount(), 1u);
    bytes.push_back(0);
    test::Put<DWORD>(bytes, kMapSizeOffset, static_cast<DWORD>(bytes.size()));
    EXPECT_EQ(ReadExact(monitor, bytes, bytes.size()), E_FAIL);
    EXPECT_EQ(monitor.categories.GetCount(), 0u);
}

TEST(SerializedMap, CounterEntryFirstIsOutOfMemoryAndLeavesTheMapEmpty) {
    Bytes bytes = SerializedMapBuilder().Counter(0, 20).Category(1, 0, 24, 4).Build(false);
    ReaderMonitor monitor;
    ASSERT_EQ(monitor.AddCategoryRecord(9, u"old", nullptr, 100, 0, false, 20, 0), S_OK);
    EXPECT_EQ(ReadExact(monitor, bytes, bytes.size()), E_OUTOFMEMORY);
    EXPECT_EQ(monitor.categories.GetCount(), 0u);
}

TEST(SerializedMap, AnyNonZeroNoInstancesFlagMeansNoInstances) {
    for (DWORD flag : {1u, 0xFFFFFFFFu}) {
        Bytes bytes = SerializedMapBuilder().Category(3, flag, 24, 0).Build(false);
        ReaderMonitor monitor;
        ASSERT_EQ(ReadExact(monitor, bytes, bytes.size()), S_OK);
        EXPECT_EQ(monitor.categories[0].noInstances, 0xFFFFFFFFu);
        EXPECT_EQ(monitor.categories[0].objectTemplate.NumInstances, PERF_NO_INSTANCES);
    }
}

// Every prefix of a valid map with names is refused, none is read beyond.
TEST(SerializedMap, TruncatedMapsAreRefusedWithoutReadingPastTheBuffer) {
    Bytes bytes = test::ServerStatisticsMap(238, true).Build(true);
    ReaderMonitor monitor;
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        ASSERT_EQ(ReadExact(monitor, bytes, length), E_FAIL) << length;
        ASSERT_EQ(monitor.categories.GetCount(), 0u);
    }
    EXPECT_EQ(ReadExact(monitor, bytes, bytes.size()), S_OK);
    EXPECT_EQ(monitor.categories[0].counters[15].name.ToU16(), Utf8ToUtf16(quorvane::kCounters[15].name));
}

// Sizes that leave the map or wrap are refused. The map size says only
// whether names follow the entries; the names are bounded by the source,
// whatever the map size claims beyond that.
TEST(SerializedMap, HostileSizesAreRefusedAndNamesBoundedByTheSource) {
    const Bytes valid = SerializedMapBuilder()
                            .Category(1, 0, 24, 4, 0, 0, u"cat")
                            .Counter(0, 20, 0, 0, u"counter")
                            .Build(true);
    const std::size_t names = MapEntriesEnd(2);
    const std::size_t secondName = names + NameRecordSize(3);
    const struct {
        const char* what;
        std::size_t offset;
        DWORD value;
        bool accepted;
    } cases[] = {
        {"entry count beyond the buffer", kMapEntryCountOffset, 3, false},
        {"entry count overflows 36 x N", kMapEntryCountOffset, 0x71C71C72u, false},
        {"name length beyond the map", names, 0x7FFFFFFFu, false},
        {"name length doubling wraps", names, 0x80000001u, false},
        {"second name beyond the map", secondName, 1000, false},
        {"map size one past the entries", kMapSizeOffset, static_cast<DWORD>(names + 1), true},
        {"map size inside the names", kMapSizeOffset, static_cast<DWORD>(names + 8), true},
        {"map size past the source", kMapSizeOffset, static_cast<DWORD>(valid.size() + 1), true},
        {"map size at its maximum", kMapSizeOffset, 0xFFFFFFFFu, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bytes = valid;
        test::Put<DWORD>(bytes, c.offset, c.value);
        ReaderMonitor monitor;
        EXPECT_EQ(ReadExact(monitor, bytes, bytes.size()), c.accepted ? S_OK : E_FAIL);
        ASSERT_EQ(monitor.categories.GetCount(), c.accepted ? 1u : 0u);
        if (c.accepted) {
            EXPECT_EQ(monitor.categories[0].name.ToU16(), u"cat");
            EXPECT_EQ(monitor.categories[0].counters[0].name.ToU16(), u"counter");
        }
    }
}

// Where each counter goes in the counter block, by the size rule; a layout
// that would not fit 32 bits is a map the reader refuses.
TEST(OutputTemplates, CounterPlacement) {
    const DWORD kAscii = PERF_SIZE_VARIABLE_LEN | PERF_TEXT_ASCII;
    const struct {
        const char* what;
        std::vector<std::pair<DWORD, DWORD>> counters;  // type, max characters
        std::vector<DWORD> offsets, sizes;
        DWORD blockSize;
    } cases[] = {
        {"DWORD then LARGE", {{PERF_SIZE_DWORD, 0}, {PERF_SIZE_LARGE, 0}}, {8, 16}, {4, 8}, 24},
        {"zero-size between DWORDs", {{0, 0}, {PERF_SIZE_ZERO, 0}, {0, 0}}, {8, 12, 12}, {4, 0, 4}, 16},
        {"no counters", {}, {}, {}, 8},
        {"ASCII text of 5", {{kAscii, 5}, {0, 0}}, {8, 16}, {8, 4}, 24},
        {"ASCII and UTF-16 text of 6", {{kAscii, 6}, {PERF_SIZE_VARIABLE_LEN, 6}}, {8, 16}, {8, 12}, 32},
        {"UTF-16 text of 5 unaligned", {{0, 0}, {PERF_SIZE_VARIABLE_LEN, 5}}, {8, 12}, {4, 12}, 24},
        {"LARGE after DWORD realigns", {{0, 0}, {0, 0}, {PERF_SIZE_LARGE, 0}}, {8, 12, 16}, {4, 4, 8}, 24},
        {"text too large for 32 bits", {{PERF_SIZE_VARIABLE_LEN, 0xFFFFFFF0u}, {PERF_SIZE_VARIABLE_LEN, 0xFFFFFFF0u}}, {}, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SerializedMapBuilder map;
        map.Category(1, 0, 100, 0);
        for (auto [type, max] : c.counters) map.Counter(type, 20, 0, 0, u"", max);
        const Bytes bytes = map.Build(false);
        ReaderMonitor monitor;
        ASSERT_EQ(ReadExact(monitor, bytes, bytes.size()), c.blockSize != 0 ? S_OK : E_FAIL);
        if (c.blockSize == 0) {
            EXPECT_TRUE(monitor.categories.IsEmpty());
            continue;
        }
        const CategoryRecord& category = monitor.categories[0];
        EXPECT_EQ(category.objectTemplate.DefinitionLength, 64 + 40 * c.counters.size());
        for (std::size_t i = 0; i < c.offsets.size(); ++i) {
            EXPECT_EQ(category.counters[i].definitionTemplate.CounterOffset, c.offsets[i]) << i;
            EXPECT_EQ(category.counters[i].definitionTemplate.CounterSize, c.sizes[i]) << i;
        }
        EXPECT_EQ(category.counterBlockSize, c.blockSize);
    }
}

}  // namespace
}  // namespace vz
