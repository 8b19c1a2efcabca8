// Error codes, checked copies, the shared wide string and the growable array.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "support/allocation.h"
#include "support/atl_exception.h"
#include "support/checked_copy.h"
#include "support/growable_array.h"
#include "support/hresult.h"
#include "support/small_copy.h"
#include "support/wide_string.h"

namespace vz {
namespace {

// The code `call` raises as a CAtlException; S_OK when it raises none.
template <class Call>
HRESULT Raised(Call call) {
    try {
        call();
    } catch (const ATL::CAtlException& e) {
        return e.hr;
    }
    return S_OK;
}

TEST(HResults, Win32AndCopyErrorsMapToTheDocumentedCodes) {
    struct Case { LONG error; HRESULT expected; };
    // Positive Win32 codes become 0x8007xxxx; zero and HRESULTs pass unchanged.
    const Case win32[] = {{0, 0},           {2, HRESULT(0x80070002u)}, {234, HRESULT(0x800700EAu)},
                          {-5, -5},         {0x12345, HRESULT(0x80072345u)},
                          {E_FAIL, E_FAIL}};
    for (const Case& c : win32) EXPECT_EQ(HResultFromWin32(c.error), c.expected) << c.error;
    // A failing copy error is also what CheckCopyError raises.
    const Case copy[] = {{0, S_OK},         {80, S_OK},          {12, E_OUTOFMEMORY},
                         {22, E_INVALIDARG}, {34, E_INVALIDARG}, {1, E_FAIL}, {99, E_FAIL}};
    for (const Case& c : copy) {
        EXPECT_EQ(HResultFromCopyError(c.error), c.expected) << c.error;
        EXPECT_EQ(Raised([&] { CheckCopyError(c.error); }), c.expected) << c.error;
    }
}

TEST(CheckedCopies, RefuseShortDestinationsAndClearThem) {
    char dest[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(CopyBytes(dest, sizeof dest, "abcdef", 6), kErrRange);
    EXPECT_EQ(dest[0], 0);
    EXPECT_EQ(CopyBytes(dest, sizeof dest, "abc", 3), kErrOk);
    EXPECT_EQ(std::string(dest, 3), "abc");
    EXPECT_EQ(CopyBytes(nullptr, 4, "a", 1), kErrInval);

    WCHAR wide[4];
    EXPECT_EQ(CopyWideString(wide, 4, u"abc", 10), kErrOk);
    EXPECT_EQ(std::u16string(wide), u"abc");
    EXPECT_EQ(CopyWideString(wide, 4, u"abcd", 10), kErrRange);
    EXPECT_EQ(wide[0], 0);
    EXPECT_EQ(CopyWideString(wide, 4, u"abcdef", 2), kErrOk);
    EXPECT_EQ(std::u16string(wide), u"ab");
    EXPECT_EQ(Raised([&] { CheckedCopyWideString(wide, 2, u"abc", 3); }), E_INVALIDARG);
}

TEST(CopySmall, CopiesEverySizeExactlyAndNothingBeyond) {
    // Each size class copies overlapping pieces; a piece placed one byte off
    // would change a byte outside the copy or leave one inside unwritten.
    std::vector<unsigned char> source(600);
    for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<unsigned char>(i * 7 + 1);
    for (std::size_t size = 0; size <= 520; ++size) {
        std::vector<unsigned char> target(size + 32, 0xEE), expected(size + 32, 0xEE);
        std::copy_n(source.begin() + 3, size, expected.begin() + 16);
        vz::CopySmall(target.data() + 16, source.data() + 3, size);
        ASSERT_EQ(target, expected) << size;
    }
}

// Copies share their text until one changes; appending its own text is
// safe; UTF-8 round-trips; a failed allocation raises bad_alloc.
TEST(WString, CopiesShareUntilChangedAndAppendSafely) {
    WString a(u"Quorvane");
    WString b = a;
    EXPECT_EQ(a.c_str(), b.c_str());
    b.Append(u" 11");
    EXPECT_EQ(a.ToU16(), u"Quorvane");
    EXPECT_EQ(b.ToU16(), u"Quorvane 11");
    WString abc(u"abc");
    for (int i = 0; i < 6; ++i) abc.Append(abc.c_str(), abc.Length());
    EXPECT_EQ(abc.Length(), 3u * 64u);
    EXPECT_EQ(abc.ToU16().substr(189), u"abc");

    const std::string text = "Quantità di dati letti è più €";
    EXPECT_EQ(WString::FromUtf8(text).ToUtf8(), text);
    allocation_hooks::FailAfter(1);
    EXPECT_THROW(WString(u"x"), std::bad_alloc);
    allocation_hooks::FailAfter(0);
}

// The capacity grows by count/8 bounded to [4, 1024]; records survive growth
// into fresh storage, which starts zeroed; indexing beyond the count raises
// E_INVALIDARG; a failed growth keeps the records.
TEST(GrowableArray, GrowsByTheStepRuleKeepingItsRecords) {
    GrowableArray<int> numbers;
    std::vector<std::size_t> capacities;
    for (int i = 1; i <= 20; ++i) {
        ASSERT_TRUE(numbers.Add(i));
        capacities.push_back(numbers.GetCapacity());
    }
    EXPECT_EQ(capacities, (std::vector<std::size_t>{4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12, 16,
                                                     16, 16, 16, 20, 20, 20, 20}));
    allocation_hooks::FailAfter(1);
    EXPECT_FALSE(numbers.Add(21));
    allocation_hooks::FailAfter(0);
    EXPECT_EQ(numbers.GetCount(), 20u);
    EXPECT_EQ(numbers[19], 20);
    ASSERT_TRUE(numbers.SetCount(16000));
    ASSERT_TRUE(numbers.Add(1));
    EXPECT_EQ(numbers.GetCapacity(), 16000u + 1024u);

    struct Record { int a; WString name; };
    GrowableArray<Record> records;
    ASSERT_TRUE(records.SetCount(3));
    records[1].name = WString(u"kept");
    ASSERT_TRUE(records.SetCount(40));
    EXPECT_EQ(records[1].name.ToU16(), u"kept");
    EXPECT_EQ(records[39].a, 0);
    EXPECT_EQ(Raised([&] { static_cast<void>(records[40]); }), E_INVALIDARG);
}

}  // namespace
}  // namespace vz
