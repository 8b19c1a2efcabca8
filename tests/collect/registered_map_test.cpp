// The registry copy of the map: what WriteRegisteredMap stores, and that a
// collection without provider reads it back into the same definitions.
#include <gtest/gtest.h>

#include <vector>

#include "collect/perf_exports.h"
#include "common/serialized_map_builder.h"
#include "objectmap/perfmon.h"
#include "platform/emulated/emulated_control.h"

namespace vz {
namespace {

const char16_t kPerformanceKey[] =
    u"SYSTEM\\CurrentControlSet\\Services\\Quorvane Server ITA\\Performance";

class WriterMonitor : public ATL::CPerfMon {
public:
    const WCHAR* ApplicationName() const override { return u"Quorvane Server ITA"; }
};

void CreatePerformanceKey() {
    plat::HKEY key = nullptr;
    ASSERT_EQ(plat::RegCreateKeyExW(plat::HKeyLocalMachine(), kPerformanceKey, 0, nullptr, 0,
                                    plat::KEY_READ | plat::KEY_WRITE, nullptr, &key, nullptr),
              0);
    plat::RegCloseKey(key);
}

std::vector<uint8_t> ReadMapValue(DWORD* type) {
    plat::HKEY key = nullptr;
    std::vector<uint8_t> bytes;
    if (plat::RegOpenKeyExW(plat::HKeyLocalMachine(), kPerformanceKey, 0, plat::KEY_READ, &key))
        return bytes;
    DWORD size = 0;
    if (plat::RegQueryValueExW(key, u"Map", nullptr, type, nullptr, &size) == 0) {
        bytes.resize(size);
        plat::RegQueryValueExW(key, u"Map", nullptr, type, bytes.data(), &size);
    }
    plat::RegCloseKey(key);
    return bytes;
}

// One category named with 12 characters and sixteen counters named with 10,
// title indices 238, 239, 240, ... in map order.
void FillMap(WriterMonitor& monitor, const WCHAR* categoryName) {
    ASSERT_EQ(monitor.AddCategoryRecord(4, categoryName, u"help", 100, 0, false, 84, 64), S_OK);
    monitor.categories[0].nameTitleIndex = 238;
    monitor.categories[0].helpTitleIndex = 239;
    for (DWORD i = 0; i < 16; ++i) {
        ASSERT_EQ(monitor.AddCounterRecord(0, u"Counter #0", u"help", 100, 0x00010000, 0,
                                           20 + 4 * i, 0),
                  S_OK);
        monitor.categories[0].counters[i].nameTitleIndex = 240 + 2 * i;
        monitor.categories[0].counters[i].helpTitleIndex = 241 + 2 * i;
    }
}

class RegisteredMapTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClosePerfMon();
        emu::ResetRegistry();
    }
    void TearDown() override { ClosePerfMon(); }
};

TEST_F(RegisteredMapTest, WrittenValueRoundTripsThroughCollection) {
    CreatePerformanceKey();
    WriterMonitor monitor;
    FillMap(monitor, u"Twelve chars");
    EXPECT_EQ(monitor.CountMapEntries(), 17u);
    ASSERT_EQ(monitor.WriteRegisteredMap(), S_OK);
    DWORD type = 0;
    std::vector<uint8_t> value = ReadMapValue(&type);
    EXPECT_EQ(type, plat::REG_BINARY);
    ASSERT_EQ(value.size(), 1032u);
    EXPECT_EQ(test::GetWord(value.data(), 0), 1032u);
    EXPECT_EQ(test::GetWord(value.data(), 4), 17u);
    const uint32_t category[9] = {1, 4, 100, 0, 0, 84, 64, 238, 239};
    for (int w = 0; w < 9; ++w) EXPECT_EQ(test::GetWord(value.data(), 8 + 4 * w), category[w]);
    const uint32_t lastCounter[9] = {0, 0, 100, 0x00010000, 0, 80, 0, 270, 271};
    for (int w = 0; w < 9; ++w)
        EXPECT_EQ(test::GetWord(value.data(), 8 + 16 * 36 + 4 * w), lastCounter[w]);
    EXPECT_EQ(test::GetWord(value.data(), 620), 12u);

    WriterMonitor reader;
    ASSERT_EQ(reader.ReadSerializedMap(value.data(), value.size()), S_OK);
    EXPECT_EQ(reader.categories[0].name.ToU16(), u"Twelve chars");
    EXPECT_EQ(reader.categories[0].counters[15].name.ToU16(), u"Counter #0");

    std::vector<uint8_t> buffer(4096);
    void* data = buffer.data();
    DWORD total = 4096, objects = 0;
    ASSERT_EQ(CollectPerfMon(u"238", &data, &total, &objects), 0u);
    EXPECT_EQ(total, 704u);
    EXPECT_EQ(test::GetWord(buffer.data(), 64 + 15 * 40 + 4), 270u);
}

void StoreMapValue(const std::vector<uint8_t>& bytes) {
    plat::HKEY key = nullptr;
    ASSERT_EQ(plat::RegOpenKeyExW(plat::HKeyLocalMachine(), kPerformanceKey, 0,
                                  plat::KEY_READ | plat::KEY_WRITE, &key),
              0);
    ASSERT_EQ(plat::RegSetValueExW(key, u"Map", 0, plat::REG_BINARY, bytes.data(),
                                   static_cast<DWORD>(bytes.size())),
              0);
    plat::RegCloseKey(key);
}

// The value's bytes bound the names, not its first word: a map size that
// understates the name area still describes the object.
TEST_F(RegisteredMapTest, MapSizeBelowTheNameAreaIsReadUpToTheValuesEnd) {
    CreatePerformanceKey();
    std::vector<uint8_t> value = test::ServerStatisticsMap(238, true).Build(true);
    test::PutWord(value, 0, 620 + 1);
    StoreMapValue(value);
    std::vector<uint8_t> buffer(4096);
    void* data = buffer.data();
    DWORD total = 4096, objects = 0;
    ASSERT_EQ(CollectPerfMon(u"238", &data, &total, &objects), 0u);
    EXPECT_EQ(total, 704u);
    EXPECT_EQ(objects, 1u);
}

TEST_F(RegisteredMapTest, FailuresStoreNoValue) {
    WriterMonitor monitor;
    FillMap(monitor, u"Twelve chars");
    EXPECT_EQ(monitor.WriteRegisteredMap(), static_cast<HRESULT>(0x80070002u));  // no key

    CreatePerformanceKey();
    WriterMonitor unnamed;
    FillMap(unnamed, u"");
    EXPECT_EQ(unnamed.WriteRegisteredMap(), E_FAIL);
    DWORD type = 0;
    EXPECT_TRUE(ReadMapValue(&type).empty());
}

}  // namespace
}  // namespace vz
