// Registration and unregistration of the server statistics object against a
// seeded perflib: ranges, values, texts, repeatability and removal.
#include <gtest/gtest.h>

#include "registration_fixture.h"

namespace vz {
namespace test {
namespace {

const HRESULT kFileNotFound = HResultFromWin32(ERROR_FILE_NOT_FOUND);

// A first registration reserves the 17 pairs of indices above perflib's last
// ones; a recorded range is reused while it is large enough. The texts go to
// the thread's language, else the system's, else nowhere.
TEST_F(RegistrationTest, RegistrationReservesOrReusesTitleIndicesInTheRightLanguage) {
    const struct {
        DWORD perflibLast;   // "Last Counter" of perflib before, "Last Help" one more
        DWORD recordedLast;  // the key's recorded "Last Counter" from first 702, 0: none
        DWORD first;         // "First Counter" afterwards, "First Help" one more
        DWORD last;          // the key's "Last Counter" afterwards, "Last Help" one more
        DWORD perflibAfter;
        LCID threadLocale = 0x0409;
        LANGID systemDefault = 0x0409;
        std::u16string languages = u"009 ";
    } cases[] = {
        {700, 0, 702, 734, 734},
        {12000, 0, 12002, 12034, 12034},
        {900, 732, 902, 934, 934},  // one entry too small: abandoned
        {900, 734, 702, 734, 900},  // exactly large enough
        {900, 800, 702, 800, 900},
        {700, 0, 702, 734, 734, 0x0410, 0x0409, u"010 "},
        {700, 0, 702, 734, 734, 0x0407, 0x0410, u"010 "},  // no 007 key
        {700, 0, 702, 734, 734, 0x0407, 0x040C, u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.recordedLast) + ", locale " + std::to_string(c.threadLocale));
        PerflibSeed seed;
        seed.lastCounter = c.perflibLast;
        seed.lastHelp = c.perflibLast + 1;
        Seed(seed);
        emu::SetThreadLocaleValue(c.threadLocale);
        emu::SetSystemDefaultLangIDValue(c.systemDefault);
        WriteDword(kPerformancePath, u"Disable Performance Counters", 1);
        if (c.recordedLast != 0) {
            WriteDword(kPerformancePath, u"First Counter", 702);
            WriteDword(kPerformancePath, u"Last Counter", c.recordedLast);
            WriteDword(kPerformancePath, u"First Help", 703);
            WriteDword(kPerformancePath, u"Last Help", c.recordedLast + 1);
        }
        ASSERT_EQ(Register(), S_OK);
        EXPECT_EQ(ReadDword(kPerformancePath, u"First Counter"), c.first);
        EXPECT_EQ(ReadDword(kPerformancePath, u"First Help"), c.first + 1);
        EXPECT_EQ(ReadDword(kPerformancePath, u"Last Counter"), c.last);
        EXPECT_EQ(ReadDword(kPerformancePath, u"Last Help"), c.last + 1);
        EXPECT_EQ(ReadDword(kPerflibPath, u"Last Counter"), c.perflibAfter);
        EXPECT_EQ(ReadDword(kPerflibPath, u"Last Help"), c.perflibAfter + 1);
        // Pairs of the range in use are replaced, those of an abandoned one stay.
        ExpectCompleteRegistration(c.languages);
    }
}

// A number stored as another type is invalid data whatever its length; a value
// longer than a DWORD must not come back as ERROR_MORE_DATA.
TEST_F(RegistrationTest, NumbersOfTheWrongTypeAreInvalidData) {
    const std::string perflib = "[HKEY_LOCAL_MACHINE\\" + Utf16ToUtf8(kPerflibPath) + "]\n";
    const std::string performance = "[HKEY_LOCAL_MACHINE\\" + Utf16ToUtf8(kPerformancePath) + "]\n";
    const struct {
        bool registerFirst;  // then the value is spoiled and unregistration runs
        std::string spoiled;
    } cases[] = {
        {false, perflib + "\"Last Counter\"=\"700\""},
        {false, perflib + "\"Last Help\"=hex(b):bc,02,00,00,00,00,00,00"},
        {false, perflib + "\"Last Counter\"=hex:bc,02"},
        {true, performance + "\"First Counter\"=hex(b):bc,02,00,00,00,00,00,00"},
        {true, performance + "\"Last Help\"=\"700\""},
    };
    for (const auto& c : cases) {
        Seed(PerflibSeed{});
        if (c.registerFirst) {
            ASSERT_EQ(Register(), S_OK) << c.spoiled;
        }
        Apply(c.spoiled + "\n");
        EXPECT_EQ(c.registerFirst ? Unregister() : Register(), HResultFromWin32(ERROR_INVALID_DATA))
            << c.spoiled;
    }
}

TEST_F(RegistrationTest, OnlyTopmostRangesAreGivenBack) {
    ASSERT_EQ(Register(), S_OK);
    WriteDword(kPerflibPath, u"Last Counter", 760);  // another program reserved above
    ASSERT_EQ(Unregister(), S_OK);
    EXPECT_EQ(ReadDword(kPerflibPath, u"Last Counter"), 760u);
    EXPECT_EQ(ReadDword(kPerflibPath, u"Last Help"), 701u);
}

TEST_F(RegistrationTest, UnregisteringCleansEveryListedLanguage) {
    ASSERT_EQ(Register(), S_OK);
    // Texts another program left inside the object's range in 010.
    WriteMultiString(kLanguage010, u"Counter",
                     EncodePairs({{u"2", u"Sistema"}, {u"710", u"estraneo"}, {u"736", u"Dopo"}}));
    WriteValue(kPerformancePath, u"Languages", plat::REG_SZ, u" 009  010 ", 11 * 2);
    ASSERT_EQ(Unregister(), S_OK);
    EXPECT_EQ(ReadChars(kLanguage009, u"Counter"), seededCounter009);
    EXPECT_EQ(ReadChars(kLanguage010, u"Counter"), EncodePairs({{u"2", u"Sistema"}, {u"736", u"Dopo"}}));
}

TEST_F(RegistrationTest, AMissingListedLanguageStopsUnregistration) {
    ASSERT_EQ(Register(), S_OK);
    WriteValue(kPerformancePath, u"Languages", plat::REG_SZ, u"009 0ff 010 ", 13 * 2);
    EXPECT_EQ(Unregister(), kFileNotFound);
    EXPECT_EQ(ReadChars(kLanguage009, u"Counter"), seededCounter009);  // cleaned before the stop
    EXPECT_EQ(ReadChars(kPerformancePath, u"Languages"), std::u16string(u"009 0ff 010 ", 13));
    EXPECT_EQ(ReadDword(kPerflibPath, u"Last Counter"), 734u);
}

TEST_F(RegistrationTest, ALibraryPathThatFillsTheBufferFails) {
    emu::SetModuleFileName(u"C:\\" + std::u16string(257, u'x'));  // 260 characters
    EXPECT_EQ(Register(), static_cast<HRESULT>(0x8007007Au));
    EXPECT_EQ(ReadDword(kPerformancePath, u"First Counter"), 702u);
    EXPECT_EQ(ReadChars(kPerformancePath, u"Library"), u"<missing>");
    emu::SetModuleFileName(u"C:\\" + std::u16string(256, u'x'));  // 259 fit
    EXPECT_EQ(Register(), S_OK);
}

}  // namespace
}  // namespace test
}  // namespace vz
