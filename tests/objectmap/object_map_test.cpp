// The object map model and the server statistics object built from the
// library's own string table.
#include <gtest/gtest.h>

#include "objectmap/perfmon_ita.h"
#include "support/allocation.h"
#include "support/atl_exception.h"

namespace vz {
namespace {

class BareMonitor : public ATL::CPerfMon {
public:
    const WCHAR* ApplicationName() const override { return u"Bare"; }
};

constexpr LANGID kNeutral = 0;

TEST(ObjectMap, CategoryRecordFields) {
    BareMonitor monitor;
    ASSERT_EQ(monitor.AddCategoryRecord(4, u"name", nullptr, 100, 2, false, 84, 64), S_OK);
    ASSERT_EQ(monitor.AddCategoryRecord(5, nullptr, u"help", 200, 0, true, 20, 0), S_OK);
    const CategoryRecord& first = monitor.categories[0];
    EXPECT_EQ(first.noInstancesMarker, 0u);
    EXPECT_EQ(first.instanceRecordSize, 212u);
    EXPECT_EQ(first.defaultCounter, 2u);
    EXPECT_EQ(first.help.ToU16(), u"");
    const CategoryRecord& second = monitor.categories[1];
    EXPECT_EQ(second.noInstancesMarker, 0xFFFFFFFFu);
    EXPECT_EQ(second.name.ToU16(), u"");
    EXPECT_EQ(second.help.ToU16(), u"help");
}

TEST(ObjectMap, TextCountersWidenTheRecordWhetherAsciiOrWide) {
    for (DWORD type : {0x300u | 0x10000u, 0x300u}) {
        BareMonitor monitor;
        ASSERT_EQ(monitor.AddCategoryRecord(4, u"c", u"h", 100, 0, false, 84, 64), S_OK);
        ASSERT_EQ(monitor.AddCounterRecord(0, u"t", u"h", 100, type, 32, 84, 0), S_OK);
        EXPECT_EQ(monitor.categories[0].instanceRecordSize, 276u);
        EXPECT_EQ(monitor.categories[0].counters[0].maxCharacters, 32u);
    }
}

TEST(ObjectMap, CounterWithoutCategoryRaisesAndAddsNothing) {
    BareMonitor monitor;
    try {
        static_cast<void>(monitor.AddCounterRecord(0, u"n", u"h", 100, 0, 0, 20, 0));
        FAIL() << "no exception";
    } catch (const ATL::CAtlException& e) {
        EXPECT_EQ(static_cast<HRESULT>(e), E_INVALIDARG);
    }
    EXPECT_TRUE(monitor.categories.IsEmpty());
}

TEST(ObjectMap, OutOfMemoryWhileAddingKeepsEarlierRecords) {
    BareMonitor monitor;
    ASSERT_EQ(monitor.AddCategoryRecord(1, u"a", u"b", 100, 0, false, 20, 0), S_OK);
    allocation_hooks::FailAfter(1);
    HRESULT hr = monitor.AddCategoryRecord(2, u"c", u"d", 100, 0, false, 20, 0);
    allocation_hooks::FailAfter(0);
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    EXPECT_EQ(monitor.categories.GetCount(), 1u);
}

TEST(ObjectMap, LocalizedStringsComeFromTheStringTable) {
    struct Case {
        DWORD id;
        const char16_t* text;
    };
    const Case cases[] = {
        {101, u"Quorvane Server 11"},      // block 7, entry 5
        {103, u"Accessi alla cache %"},    // block 7, entry 7
        {112, u"Numero di ospiti collegati (utilizzare questo dato per la configurazione del "
              u"numero massimo di ospiti collegati)."},  // block 8, entry 0
        {134, u"Numero di chiamate remote ricevute dai client ancora in elaborazione."},
        {100, u"VudoZidITA"},
    };
    for (const Case& c : cases) {
        WString text;
        ASSERT_TRUE(ATL::CPerfMon::LoadLocalizedString(text, plat::ThisModule(), c.id, kNeutral))
            << c.id;
        EXPECT_EQ(text.ToU16(), c.text) << c.id;
    }
    WString missing(u"unchanged");
    EXPECT_FALSE(ATL::CPerfMon::LoadLocalizedString(missing, plat::ThisModule(), 16, kNeutral));
    EXPECT_FALSE(ATL::CPerfMon::LoadLocalizedString(missing, plat::ThisModule(), 135, kNeutral));
    EXPECT_EQ(missing.ToU16(), u"unchanged");
}

TEST(ServerStatistics, BuildsOneCategoryWithSixteenCountersInTableOrder) {
    PerfMon_ITA monitor;
    EXPECT_EQ(std::u16string(monitor.ApplicationName()), u"Quorvane Server ITA");
    DWORD firstName = 77;
    ASSERT_EQ(monitor.BuildObjectMap(kNeutral, plat::ThisModule(), &firstName), S_OK);
    ASSERT_EQ(monitor.BuildObjectMap(kNeutral, plat::ThisModule(), &firstName), S_OK);
    EXPECT_EQ(firstName, 101u);
    ASSERT_EQ(monitor.categories.GetCount(), 1u);
    const CategoryRecord& category = monitor.categories[0];
    EXPECT_EQ(category.id, 4u);
    EXPECT_EQ(category.name.ToU16(), u"Quorvane Server 11");
    EXPECT_EQ(category.detailLevel, 100u);
    EXPECT_EQ(category.noInstancesMarker, 0u);
    EXPECT_EQ(category.instanceDataSize, 84u);
    EXPECT_EQ(category.maxInstanceNameLength, 64u);
    EXPECT_EQ(category.instanceRecordSize, 212u);
    EXPECT_EQ(category.nameTitleIndex, 0u);

    const DWORD nameResources[16] = {103, 105, 107, 129, 109, 111, 113, 131,
                                     115, 117, 119, 121, 133, 123, 125, 127};
    ASSERT_EQ(category.counters.GetCount(), 16u);
    for (std::size_t i = 0; i < 16; ++i) {
        const CounterRecord& counter = category.counters[i];
        WString expectedName, expectedHelp;
        ASSERT_TRUE(ATL::CPerfMon::LoadLocalizedString(expectedName, plat::ThisModule(),
                                                       nameResources[i], kNeutral));
        ASSERT_TRUE(ATL::CPerfMon::LoadLocalizedString(expectedHelp, plat::ThisModule(),
                                                       nameResources[i] + 1, kNeutral));
        EXPECT_EQ(counter.name, expectedName) << i;
        EXPECT_EQ(counter.help, expectedHelp) << i;
        EXPECT_EQ(counter.dataOffset, 20 + 4 * i);
        EXPECT_EQ(counter.counterType, 0x00010000u);
        EXPECT_EQ(counter.detailLevel, 100u);
        EXPECT_EQ(counter.maxCharacters, 0u);
        EXPECT_EQ(counter.id, 0u);
        EXPECT_EQ(counter.nameTitleIndex, 0u);
    }
    EXPECT_EQ(category.counters[3].name.ToU16(), u"Scrittura KB/sec disco");
    EXPECT_EQ(category.counters[12].name.ToU16(), u"Chiamate remote in corso");
    EXPECT_EQ(category.counters[15].name.ToU16(), u"Tempo IO/chiamata");
}

// A string missing half-way stops the build with E_FAIL and keeps what was added.
TEST(ServerStatistics, AllocationFailureMidwayIsEFail) {
    PerfMon_ITA monitor;
    std::size_t before = allocation_hooks::Count();
    ASSERT_EQ(monitor.BuildObjectMap(kNeutral, plat::ThisModule(), nullptr), S_OK);
    std::size_t perBuild = allocation_hooks::Count() - before;
    ASSERT_GT(perBuild, 10u);
    allocation_hooks::FailAfter(perBuild - 2);
    HRESULT hr = monitor.BuildObjectMap(kNeutral, plat::ThisModule(), nullptr);
    allocation_hooks::FailAfter(0);
    EXPECT_EQ(hr, E_FAIL);
    ASSERT_EQ(monitor.categories.GetCount(), 1u);
    EXPECT_LT(monitor.categories[0].counters.GetCount(), 16u);
}

}  // namespace
}  // namespace vz
