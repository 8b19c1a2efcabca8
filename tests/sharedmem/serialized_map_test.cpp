// The serialized-map reader and the output templates it prepares.
#include <gtest/gtest.h>

#include <memory>

#include "common/layout_builder.h"
#include "objectmap/perfmon.h"

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

// Entry counts and name lengths that leave the map or wrap are refused, and
// so are a counter block too large and a counter entry first; a refused map leaves none behind. The map size
// says only whether names follow the entries: names of 0 to 3 units (4, 8, 8
// and 12 bytes) are bounded by the source, whatever the map size claims.
TEST(SerializedMap, HostileMapsAreRefusedAndNamesBoundedByTheSource) {
    const Bytes valid = SerializedMapBuilder()
                            .Category(1, 0, 24, 8, 10, 11, u"")
                            .Counter(0, 20, 12, 13, u"a")
                            .Counter(0, 20, 14, 15, u"bc")
                            .Counter(0, 20, 16, 17, u"def")
                            .Build(true);
    ASSERT_EQ(valid.size(), MapEntriesEnd(4) + 4 + 8 + 8 + 12);
    const DWORD names = static_cast<DWORD>(MapEntriesEnd(4));
    auto with = [](Bytes bytes, std::size_t offset, DWORD value) {
        test::Put<DWORD>(bytes, offset, value);
        return bytes;
    };
    Bytes unnamed = SerializedMapBuilder().Category(7, 0, 20, 4).Build(false);
    unnamed.push_back(0);
    const struct {
        const char* what;
        Bytes bytes;
        HRESULT result;
    } cases[] = {
        {"entry count beyond the buffer", with(valid, kMapEntryCountOffset, 5), E_FAIL},
        {"entry count overflows 36 x N", with(valid, kMapEntryCountOffset, 0x71C71C72u), E_FAIL},
        {"name length beyond the map", with(valid, names, 0x7FFFFFFFu), E_FAIL},
        {"name length doubling wraps", with(valid, names, 0x80000001u), E_FAIL},
        {"last name beyond the map", with(valid, names + 4 + 8 + 8, 1000), E_FAIL},
        {"names announced, one byte there", with(unnamed, kMapSizeOffset, static_cast<DWORD>(unnamed.size())), E_FAIL},
        {"a counter block too large for 32 bits", SerializedMapBuilder().Category(1, 0, 100, 0)
             .Counter(PERF_SIZE_VARIABLE_LEN, 20, 0, 0, u"", 0xFFFFFFF0u)
             .Counter(PERF_SIZE_VARIABLE_LEN, 20, 0, 0, u"", 0xFFFFFFF0u).Build(false), E_FAIL},
        {"a counter entry first", SerializedMapBuilder().Counter(0, 20).Category(1, 0, 24, 4).Build(false), E_OUTOFMEMORY},
        {"map size one past the entries", with(valid, kMapSizeOffset, names + 1), S_OK},
        {"map size inside the names", with(valid, kMapSizeOffset, names + 8), S_OK},
        {"map size past the source", with(valid, kMapSizeOffset, static_cast<DWORD>(valid.size() + 1)), S_OK},
        {"map size at its maximum", with(valid, kMapSizeOffset, 0xFFFFFFFFu), S_OK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ReaderMonitor monitor;
        ASSERT_EQ(monitor.AddCategoryRecord(9, u"old", nullptr, 100, 0, false, 20, 0), S_OK);
        EXPECT_EQ(ReadExact(monitor, c.bytes, c.bytes.size()), c.result);
        ASSERT_EQ(monitor.categories.GetCount(), c.result == S_OK ? 1u : 0u);
        if (c.result != S_OK) continue;
        const CategoryRecord& category = monitor.categories[0];
        EXPECT_EQ(category.name.ToU16(), u"");
        EXPECT_EQ(category.counters[0].name.ToU16(), u"a");
        EXPECT_EQ(category.counters[1].name.ToU16(), u"bc");
        EXPECT_EQ(category.counters[2].name.ToU16(), u"def");
    }
}

// Where each counter goes in the counter block, by the size rule.
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
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SerializedMapBuilder map;
        map.Category(1, 0, 100, 0);
        for (auto [type, max] : c.counters) map.Counter(type, 20, 0, 0, u"", max);
        const Bytes bytes = map.Build(false);
        ReaderMonitor monitor;
        ASSERT_EQ(ReadExact(monitor, bytes, bytes.size()), S_OK);
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
