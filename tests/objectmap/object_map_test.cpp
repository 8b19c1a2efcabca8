// The object map model and the server statistics object built from the
// library's own string table.
#include <gtest/gtest.h>

#include "common/layout_builder.h"
#include "map_description.h"
#include "objectmap/perfmon_ita.h"
#include "server_statistics.h"
#include "sharedmem/byte_layout.h"
#include "support/allocation.h"
#include "support/utf_text.h"

namespace vz {
namespace {

class BareMonitor : public ATL::CPerfMon {
public:
    const WCHAR* ApplicationName() const override { return u"Bare"; }
};

constexpr LANGID kNeutral = 0;

// String-table entry `id` of the library in the neutral language.
WString Loaded(DWORD id) {
    WString text;
    EXPECT_TRUE(ATL::CPerfMon::LoadLocalizedString(text, plat::ThisModule(), id, kNeutral)) << id;
    return text;
}

// A record holds the data and the longest name, widened by each text counter's
// characters; a missing text is empty; adding fails cleanly and keeps what was
// added before. (The serialized-map reader's tests add records too.)
TEST(ObjectMap, RecordsTakeTheirSizesAndFailCleanly) {
    BareMonitor monitor;
    ASSERT_EQ(monitor.AddCategoryRecord(4, u"name", nullptr, 100, 2, false, 84, 64), S_OK);
    ASSERT_EQ(monitor.AddCategoryRecord(5, nullptr, u"help", 200, 0, true, 20, 0), S_OK);
    ASSERT_EQ(monitor.AddCounterRecord(0, u"a", u"h", 100, 0x300u | 0x10000u, 32, 20, 0), S_OK);
    ASSERT_EQ(monitor.AddCounterRecord(0, u"w", u"h", 100, 0x300u, 8, 84, 0), S_OK);
    ASSERT_EQ(monitor.AddCounterRecord(0, u"n", u"h", 100, 0, 0, 100, 0), S_OK);
    const CategoryRecord& first = monitor.categories[0];
    EXPECT_EQ(first.defaultCounter, 2u);
    EXPECT_EQ(first.help.ToU16(), u"");
    const CategoryRecord& second = monitor.categories[1];
    EXPECT_EQ(second.name.ToU16(), u"");
    EXPECT_EQ(second.help.ToU16(), u"help");
    EXPECT_EQ(second.instanceRecordSize, 20u + 64u + 16u);
    EXPECT_EQ(second.counters[1].maxCharacters, 8u);

    allocation_hooks::FailAfter(1);
    const HRESULT hr = monitor.AddCategoryRecord(6, u"c", u"d", 100, 0, false, 20, 0);
    allocation_hooks::FailAfter(0);
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    EXPECT_EQ(monitor.categories.GetCount(), 2u);
}

// Help texts and the module's name; the names are checked through the map below.
TEST(ObjectMap, LocalizedStringsComeFromTheStringTable) {
    struct Case { DWORD id; const char16_t* text; };
    const Case cases[] = {
        {112, u"Numero di ospiti collegati (utilizzare questo dato per la configurazione del "
              u"numero massimo di ospiti collegati)."},  // block 8, entry 0
        {134, u"Numero di chiamate remote ricevute dai client ancora in elaborazione."},
        {100, u"VudoZidITA"},
    };
    for (const Case& c : cases) EXPECT_EQ(Loaded(c.id).ToU16(), c.text) << c.id;
    WString missing(u"unchanged");
    EXPECT_FALSE(ATL::CPerfMon::LoadLocalizedString(missing, plat::ThisModule(), 16, kNeutral));
    EXPECT_FALSE(ATL::CPerfMon::LoadLocalizedString(missing, plat::ThisModule(), 135, kNeutral));
    EXPECT_EQ(missing.ToU16(), u"unchanged");
}

static_assert(quorvane::kRawCount == PERF_COUNTER_RAWCOUNT &&
                  quorvane::kDetailNovice == PERF_DETAIL_NOVICE &&
                  quorvane::kRecordHeaderSize == kRecordHeaderSize,
              "the table's constants are perflib's and the record layout's");

// The library's object is the published object's table: its serialized map
// (entries and names) is the simulator's byte for byte, its help texts are the
// table's string-table entries. A string missing half-way through a rebuild
// stops it with E_FAIL and keeps what was added.
TEST(ServerStatistics, MatchesThePublishedObjectTableAndFailsCleanly) {
    PerfMon_ITA monitor;
    EXPECT_EQ(Utf16ToUtf8(monitor.ApplicationName()), quorvane::kApplication);
    DWORD firstName = 77;
    ASSERT_EQ(monitor.BuildObjectMap(kNeutral, plat::ThisModule(), &firstName), S_OK);
    const std::size_t before = allocation_hooks::Count();
    ASSERT_EQ(monitor.BuildObjectMap(kNeutral, plat::ThisModule(), &firstName), S_OK);
    const std::size_t perBuild = allocation_hooks::Count() - before;
    EXPECT_EQ(firstName, quorvane::kObjectNameResource);
    monitor.AssignTitleIndices(1000, 1001);
    ASSERT_EQ(monitor.categories.GetCount(), 1u);
    const CategoryRecord& category = monitor.categories[0];
    EXPECT_EQ(category.help, Loaded(quorvane::kObjectHelpResource));
    EXPECT_EQ(category.instanceRecordSize, 212u);
    ASSERT_EQ(category.counters.GetCount(), quorvane::kCounterCount);
    for (std::size_t i = 0; i < quorvane::kCounterCount; ++i) {
        EXPECT_EQ(category.counters[i].help, Loaded(quorvane::kCounters[i].helpResource)) << i;
        EXPECT_EQ(category.counters[i].dataOffset, quorvane::kCounters[i].dataOffset) << i;
    }

    vzp_object object = qvsim::ServerStatisticsObject();
    object.first_name_index = 1000;
    object.first_help_index = 1001;
    provider::MapDescription described;
    ASSERT_EQ(provider::DescribeObject(object, &described), VZP_OK);
    const std::vector<BYTE> published = provider::SerializeMap(described);
    std::vector<BYTE> library(published.size());
    ByteWriter out(library.data(), library.size());
    ASSERT_TRUE(WriteSerializedMap(out, static_cast<DWORD>(library.size()), monitor.categories));
    EXPECT_EQ(library, published);
    EXPECT_EQ(published, test::ServerStatisticsMap(1000, true).Build(true));  // the entries' word order

    ASSERT_GT(perBuild, 10u);
    allocation_hooks::FailAfter(perBuild - 2);
    const HRESULT hr = monitor.BuildObjectMap(kNeutral, plat::ThisModule(), nullptr);
    allocation_hooks::FailAfter(0);
    EXPECT_EQ(hr, E_FAIL);
    ASSERT_EQ(monitor.categories.GetCount(), 1u);
    EXPECT_LT(monitor.categories[0].counters.GetCount(), 16u);
}

}  // namespace
}  // namespace vz
