// Pair-list editing: where the object's run lands, which old pairs go, and that
// malformed lists are refused or cut short without reading past their value.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/perflib_seed.h"
#include "objectmap/perfmon_ita.h"
#include "platform/platform.h"
#include "platform/emulated/emulated_control.h"
#include "registration/pair_list.h"
#include "support/allocation.h"

namespace vz {
namespace {

using test::DecodePairs;
using test::EncodePairs;
using test::PairList;

// The characters of a literal, embedded NULs included, without its own terminator.
template <std::size_t N>
std::u16string Raw(const char16_t (&text)[N]) {
    return std::u16string(text, N - 1);
}

// The lists are copied into vectors of exactly their size, so that a read past
// them is an address-sanitizer error.
std::u16string Merge(const std::u16string& old, DWORD first, DWORD last,
                     const std::vector<std::u16string>& texts, std::size_t room = 1000) {
    std::vector<WString> strings;
    for (const auto& text : texts) strings.emplace_back(text.c_str());
    const std::vector<char16_t> source(old.begin(), old.end());
    std::vector<char16_t> out(old.size() + room);
    const std::size_t written = MergePairList(source.data(), source.size(), strings.data(), strings.size(),
                                              first, last, out.data(), out.size());
    return written == 0 ? u"<failed>" : std::u16string(out.data(), written);
}

std::u16string Remove(const std::u16string& old, DWORD lowest, DWORD highest) {
    std::vector<char16_t> list(old.begin(), old.end());
    return std::u16string(list.data(), RemovePairRange(list.data(), list.size(), lowest, highest));
}

TEST(ParseTitleIndex, ReadsLeadingDigitsAsUnsigned32) {
    struct Case { std::u16string text; DWORD expected; };
    const Case cases[] = {
        {u"702", 702},         {u"  42x", 42},          {u"+7", 7},
        {u"abc", 0},           {u"", 0},                {u"-1", 0xFFFFFFFFu},
        {u"4294967295", 0xFFFFFFFFu},                   {u"4294967998", 0xFFFFFFFFu},
        {u"99999999999999999999999", 0xFFFFFFFFu},      {u"\t\n12", 12},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseTitleIndex(c.text.data(), c.text.size()), c.expected)
            << Utf16ToUtf8(c.text);
    }
}

// Malformed lists end at their last complete pair; what does not fit, or an
// empty text, is refused.
TEST(MergePairList, PlacesTheRunDropsTheObjectsOldPairsAndRefusesWhatDoesNotFit) {
    struct Case {
        const char* what;
        std::u16string old;
        DWORD first, last;
        std::u16string expected;
        std::vector<std::u16string> texts = {u"Cat", u"Cnt"};
        std::size_t room = 1000;
    };
    const std::u16string cut = Raw(u"2\0A\0" u"702\0Cat\0" u"704\0Cnt\0\0");
    const std::u16string old = EncodePairs({{u"2", u"A"}});  // the merged list takes 8 more units
    const Case cases[] = {
        {"all old pairs below: appended", EncodePairs({{u"1", u"1847"}, {u"2", u"System"}}), 702, 704,
         EncodePairs({{u"1", u"1847"}, {u"2", u"System"}, {u"702", u"Cat"}, {u"704", u"Cnt"}})},
        {"in front of the first pair not below first", EncodePairs({{u"2", u"A"}, {u"800", u"B"}, {u"4", u"C"}}),
         702, 704, EncodePairs({{u"2", u"A"}, {u"702", u"Cat"}, {u"704", u"Cnt"}, {u"800", u"B"}, {u"4", u"C"}})},
        {"old pairs of the range dropped out of order",
         EncodePairs({{u"703", u"old"}, {u"2", u"A"}, {u"900", u"old"}, {u"702", u"old"}, {u"901", u"Z"}}), 702,
         900, EncodePairs({{u"702", u"Cat"}, {u"704", u"Cnt"}, {u"2", u"A"}, {u"901", u"Z"}})},
        {"empty list", u"", 10, 12, EncodePairs({{u"10", u"Cat"}, {u"12", u"Cnt"}})},
        {"non-digit index counts 0, huge one saturates", EncodePairs({{u"x", u"A"}, {u"4294967998", u"B"}}),
         702, 704, EncodePairs({{u"x", u"A"}, {u"702", u"Cat"}, {u"704", u"Cnt"}, {u"4294967998", u"B"}})},
        {"printed with %d", u"", 0x80000000u, 0x80000002u,
         EncodePairs({{u"-2147483648", u"Cat"}, {u"-2147483646", u"Cnt"}})},
        {"index without text at the end", Raw(u"2\0A\0" u"702\0\0"), 702, 704, cut},
        {"no terminating empty string", Raw(u"2\0A\0"), 702, 704, cut},
        {"text without its NUL", Raw(u"2\0A\0" u"5\0xy"), 702, 704, cut},
        {"index without its NUL", Raw(u"2\0A\0" u"55"), 702, 704, cut},
        {"empty string inside ends the list", Raw(u"2\0A\0\0" u"9\0B\0\0"), 702, 704, cut},
        {"one unit short", old, 702, 702, u"<failed>", {u"Cat"}, 7},
        {"exactly fits", old, 702, 702, Raw(u"2\0A\0" u"702\0Cat\0\0"), {u"Cat"}, 8},
        {"empty text", old, 702, 704, u"<failed>", {u"Cat", u""}},
    };
    for (const Case& c : cases) EXPECT_EQ(Merge(c.old, c.first, c.last, c.texts, c.room), c.expected) << c.what;
}

TEST(RemovePairRange, RemovesEveryIndexOfTheRangeAndKeepsTheRest) {
    struct Case {
        const char* what;
        std::u16string raw;
        std::u16string expected;
    };
    const Case cases[] = {
        {"both parities, anywhere",
         EncodePairs({{u"702", u"a"}, {u"2", u"B"}, {u"703", u"c"}, {u"734", u"d"}, {u"736", u"E"}}),
         EncodePairs({{u"2", u"B"}, {u"736", u"E"}})},
        {"nothing in range", EncodePairs({{u"2", u"B"}, {u"4", u"C"}}), EncodePairs({{u"2", u"B"}, {u"4", u"C"}})},
        {"everything removed leaves one NUL", EncodePairs({{u"702", u"a"}}), std::u16string(1, 0)},
        {"index without text dropped", Raw(u"2\0B\0" u"9\0\0"), EncodePairs({{u"2", u"B"}})},
        {"no room for the terminator", Raw(u"2\0B\0" u"4\0C\0"), EncodePairs({{u"2", u"B"}})},
        {"huge index kept", EncodePairs({{u"99999999999", u"H"}}), EncodePairs({{u"99999999999", u"H"}})},
    };
    for (const Case& c : cases) EXPECT_EQ(Remove(c.raw, 702, 734), c.expected) << c.what;
}

// Long lists put strings across the scanner's 16-character blocks and end in a
// partial block; the result must match the pair-by-pair definition.
TEST(PairListEditing, LongListsMatchThePairByPairResult) {
    PairList old;
    for (DWORD k = 1; k <= 400; ++k) {
        std::string index = std::to_string(2 * k);
        old.emplace_back(std::u16string(index.begin(), index.end()),
                         std::u16string(1 + (k * 7) % 37, u'a' + k % 26));
    }
    const DWORD first = 300, last = 340;
    for (std::ptrdiff_t cut = 0; cut < 16; ++cut) {  // lists ending on every position of a block
        const PairList shorter(old.begin(), old.end() - cut);
        PairList kept, merged;
        for (const auto& pair : shorter) {
            const DWORD index = static_cast<DWORD>(std::stoul(Utf16ToUtf8(pair.first)));
            if (index == first) merged.insert(merged.end(), {{u"300", u"Cat"}, {u"302", u"Cnt"}});
            if (index < first || index > last) {
                kept.push_back(pair);
                merged.push_back(pair);
            }
        }
        EXPECT_EQ(Remove(EncodePairs(shorter), first, last), EncodePairs(kept)) << cut;
        EXPECT_EQ(Merge(EncodePairs(shorter), first, last, {u"Cat", u"Cnt"}), EncodePairs(merged)) << cut;
    }
}

const char16_t kLanguageKey[] = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009";

// The monitor's merge (with `texts`) or removal (texts empty) on the value
// `name` of the 009 key; the registry calls and allocations of that step alone.
HRESULT EditTitlePairs(const std::vector<const char16_t*>& texts, const char16_t* name, DWORD room,
                       DWORD first, DWORD last, std::string* calls = nullptr,
                       std::size_t* allocations = nullptr) {
    PerfMon_ITA monitor;
    GrowableArray<WString> strings;
    for (const char16_t* text : texts) strings.Add(WString(text));
    plat::HKEY key = nullptr;
    EXPECT_EQ(plat::RegOpenKeyExW(plat::HKeyLocalMachine(), kLanguageKey, 0, 0x2001F, &key), 0);
    emu::ResetCallCounts();
    const std::size_t before = allocation_hooks::Count();
    const HRESULT hr = texts.empty() ? monitor.RemoveTitlePairs(key, name, first, last)
                                     : monitor.MergeTitlePairs(key, name, strings, room, first, last);
    if (allocations != nullptr) *allocations = allocation_hooks::Count() - before;
    if (calls != nullptr) *calls = emu::RegistryCallLog();
    plat::RegCloseKey(key);
    return hr;
}

TEST(TitlePairsInRegistry, MalformedValuesFailAndStayUnchanged) {
    const HRESULT invalidData = HResultFromWin32(ERROR_INVALID_DATA);
    const HRESULT insufficient = HResultFromWin32(ERROR_INSUFFICIENT_BUFFER);
    const struct {
        const char* what;
        DWORD type;
        std::u16string raw;
        std::size_t extraByte;  // 1: store one byte more than the characters
        HRESULT expected;
    } cases[] = {
        // The size read first rounds the odd byte count down, so the value no
        // longer fits the buffer made for it.
        {"odd byte count", plat::REG_MULTI_SZ, Raw(u"2\0A\0\0"), 1, HResultFromWin32(ERROR_MORE_DATA)},
        {"single NUL", plat::REG_MULTI_SZ, std::u16string(1, 0), 0, insufficient},
        {"no bytes", plat::REG_MULTI_SZ, u"", 0, insufficient},
        {"missing final NUL", plat::REG_MULTI_SZ, Raw(u"2\0A"), 0, invalidData},
        {"one NUL at the end only", plat::REG_MULTI_SZ, Raw(u"2\0A\0"), 0, invalidData},
        {"another type", plat::REG_SZ, Raw(u"2\0A\0\0"), 0, invalidData},
    };
    for (const auto& c : cases) {
        for (bool merge : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (merge ? " merge" : " remove"));
            test::SeedPerflib();
            std::vector<BYTE> bytes(c.raw.size() * 2 + c.extraByte, 0);
            std::copy(c.raw.begin(), c.raw.end(), reinterpret_cast<char16_t*>(bytes.data()));
            test::WriteValue(kLanguageKey, u"Counter", c.type, bytes.data(), bytes.size());
            EXPECT_EQ(EditTitlePairs(merge ? std::vector<const char16_t*>{u"Cat"} : std::vector<const char16_t*>{},
                                     u"Counter", 100, 702, 702), c.expected);
            DWORD type = 0;
            std::vector<BYTE> after;
            ASSERT_TRUE(test::ReadValue(kLanguageKey, u"Counter", &type, &after));
            EXPECT_EQ(after, bytes);
            EXPECT_EQ(type, c.type);
        }
    }

    // A missing value is "not found"; an empty list takes the run.
    EXPECT_EQ(EditTitlePairs({u"Cat", u"Cnt"}, u"Missing", 100, 702, 704), HResultFromWin32(ERROR_FILE_NOT_FOUND));
    test::WriteMultiString(kLanguageKey, u"Counter", std::u16string(2, 0));
    EXPECT_EQ(EditTitlePairs({u"Cat", u"Cnt"}, u"Counter", 14 + 2, 702, 704), S_OK);
    EXPECT_EQ(test::ReadChars(kLanguageKey, u"Counter"), Raw(u"702\0Cat\0" u"704\0Cnt\0\0"));
}

// A list of thousands of pairs is read once (its size, then its bytes),
// written once, and costs one buffer for what was read plus one for the new
// list, whether texts go in or come out.
TEST(TitlePairsInRegistry, EachListIsReadAndWrittenOnceWithOneNewBuffer) {
    test::PerflibSeed seed;
    seed.lastCounter = 20000;
    seed.lastHelp = 20001;
    for (bool merge : {true, false}) {
        SCOPED_TRACE(merge ? "merge" : "remove");
        test::SeedPerflib(seed);
        const std::size_t pairsBefore = DecodePairs(test::ReadChars(kLanguageKey, u"Counter")).size();
        std::string calls;
        std::size_t allocations = 0;
        const HRESULT hr =
            merge ? EditTitlePairs(std::vector<const char16_t*>(17, u"Tempo di attesa/chiamata"), u"Counter",
                                   17 * 32, 20002, 20034, &calls, &allocations)
                  : EditTitlePairs({}, u"Counter", 0, 2, 400, &calls, &allocations);
        ASSERT_EQ(hr, S_OK);
        EXPECT_EQ(calls, "RegQueryValueExW\nRegQueryValueExW\nRegSetValueExW\n");
        EXPECT_EQ(allocations, merge ? 2u : 1u);  // the removal compacts the list where it was read
        EXPECT_EQ(DecodePairs(test::ReadChars(kLanguageKey, u"Counter")).size(),
                  merge ? pairsBefore + 17 : pairsBefore - 200);
    }
}

}  // namespace
}  // namespace vz
