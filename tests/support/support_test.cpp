#include <gtest/gtest.h>

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

TEST(HResultFromWin32, MapsPositiveCodesAndPassesTheRest) {
    struct Case { LONG error; HRESULT expected; };
    const Case cases[] = {
        {0, 0},
        {2, static_cast<HRESULT>(0x80070002u)},
        {234, static_cast<HRESULT>(0x800700EAu)},
        {0x12345, static_cast<HRESULT>(0x80072345u)},
        {-5, -5},
        {static_cast<LONG>(0x80004005u), static_cast<HRESULT>(0x80004005u)},
    };
    for (const Case& c : cases) EXPECT_EQ(HResultFromWin32(c.error), c.expected) << c.error;
}

TEST(CopyErrors, MapToTheDocumentedHResults) {
    struct Case { int error; HRESULT expected; };
    const Case cases[] = {{0, S_OK},         {80, S_OK},          {12, E_OUTOFMEMORY},
                          {22, E_INVALIDARG}, {34, E_INVALIDARG}, {1, E_FAIL}, {99, E_FAIL}};
    for (const Case& c : cases) {
        EXPECT_EQ(HResultFromCopyError(c.error), c.expected) << c.error;
        if (Failed(c.expected)) {
            try {
                CheckCopyError(c.error);
                ADD_FAILURE() << "no exception for " << c.error;
            } catch (const ATL::CAtlException& e) {
                EXPECT_EQ(e.hr, c.expected);
            }
        } else {
            EXPECT_NO_THROW(CheckCopyError(c.error));
        }
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
    EXPECT_THROW(CheckedCopyWideString(wide, 2, u"abc", 3), ATL::CAtlException);
}

TEST(CopySmall, CopiesEverySizeExactlyAndNothingBeyond) {
    // Each size class copies overlapping pieces; a piece placed one byte off
    // would change a byte outside the copy or leave one inside unwritten.
    std::vector<unsigned char> source(600);
    for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<unsigned char>(i * 7 + 1);
    for (std::size_t size = 0; size <= 520; ++size) {
        SCOPED_TRACE(size);
        std::vector<unsigned char> target(size + 32, 0xEE);
        vz::CopySmall(target.data() + 16, source.data() + 3, size);
        for (std::size_t i = 0; i < 16; ++i) ASSERT_EQ(target[i], 0xEE);
        for (std::size_t i = 0; i < size; ++i) ASSERT_EQ(target[16 + i], source[3 + i]);
        for (std::size_t i = 16 + size; i < target.size(); ++i) ASSERT_EQ(target[i], 0xEE);
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
    WString empty(nullptr);
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_EQ(empty.c_str()[0], 0);

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

TEST(GrowableArray, GrowsByTheStepRule) {
    GrowableArray<int> a;
    struct Step { std::size_t count; std::size_t capacity; };
    // count/8 bounded to [4, 1024], added to the capacity.
    const Step steps[] = {{1, 4}, {5, 8}, {9, 12}, {13, 16}, {17, 20}};
    std::size_t k = 0;
    for (int i = 1; i <= 17; ++i) {
        ASSERT_TRUE(a.Add(i));
        if (k < 5 && a.GetCount() == steps[k].count) {
            EXPECT_EQ(a.GetCapacity(), steps[k].capacity) << "count " << steps[k].count;
            ++k;
        }
    }
    EXPECT_EQ(k, 5u);
    GrowableArray<int> big;
    ASSERT_TRUE(big.SetCount(16000));
    ASSERT_TRUE(big.Add(1));
    EXPECT_EQ(big.GetCapacity(), 16000u + 1024u);
    GrowableArray<int> stepped;
    stepped.SetGrowStep(100);
    ASSERT_TRUE(stepped.Add(1));
    EXPECT_EQ(stepped.GetCapacity(), 100u);
}

// Records survive growth into fresh storage, which starts zeroed; indexing
// beyond the count raises E_INVALIDARG; a failed growth keeps the records.
TEST(GrowableArray, GrowthKeepsRecordsAndIndexingIsChecked) {
    struct Record { int a; WString name; };
    GrowableArray<Record> a;
    ASSERT_TRUE(a.SetCount(3));
    a[1].name = WString(u"kept");
    ASSERT_TRUE(a.SetCount(40));  // moves the records into fresh storage
    EXPECT_EQ(a[1].name.ToU16(), u"kept");
    EXPECT_EQ(a[39].a, 0);
    try {
        a[40];
        ADD_FAILURE() << "index beyond the count was accepted";
    } catch (const ATL::CAtlException& e) {
        EXPECT_EQ(e.hr, E_INVALIDARG);
    }
    GrowableArray<int> full;
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(full.Add(7 + i));
    allocation_hooks::FailAfter(1);
    EXPECT_FALSE(full.Add(9));
    allocation_hooks::FailAfter(0);
    EXPECT_EQ(full.GetCount(), 4u);
    EXPECT_EQ(full[0], 7);
}

}  // namespace
}  // namespace vz
