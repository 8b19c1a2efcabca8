// Registration and unregistration of the server statistics object against a
// seeded perflib: ranges, values, texts, repeatability and removal.
#include <gtest/gtest.h>

#include "registration_fixture.h"

namespace vz {
namespace test {
namespace {

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

// Unregistration after others changed the registry: the range goes back to
// perflib only while it is the topmost; every listed language is cleaned, up to
// a missing one, which stops it there.
TEST_F(RegistrationTest, UnregistrationCleansWhatItFinds) {
    const std::u16string foreign010 =  // texts another program left in the object's range
        EncodePairs({{u"2", u"Sistema"}, {u"710", u"estraneo"}, {u"736", u"Dopo"}});
    const struct {
        DWORD perflibLast;  // perflib's "Last Counter" before unregistering
        std::u16string languages;
        HRESULT expected;
        DWORD lastCounterAfter, lastHelpAfter;
        std::u16string counter010;
    } cases[] = {
        {760, u"009 ", S_OK, 760, 701, foreign010},  // another program reserved above
        {734, u" 009  010 ", S_OK, 700, 701, EncodePairs({{u"2", u"Sistema"}, {u"736", u"Dopo"}})},
        {734, u"009 0ff 010 ", HResultFromWin32(ERROR_FILE_NOT_FOUND), 734, 735, foreign010},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.languages));
        Seed(PerflibSeed{});
        ASSERT_EQ(Register(), S_OK);
        WriteDword(kPerflibPath, u"Last Counter", c.perflibLast);
        WriteValue(kPerformancePath, u"Languages", plat::REG_SZ, c.languages.c_str(),
                   (c.languages.size() + 1) * 2);
        WriteMultiString(kLanguage010, u"Counter", foreign010);
        EXPECT_EQ(Unregister(), c.expected);
        EXPECT_EQ(ReadDword(kPerflibPath, u"Last Counter"), c.lastCounterAfter);
        EXPECT_EQ(ReadDword(kPerflibPath, u"Last Help"), c.lastHelpAfter);
        EXPECT_EQ(ReadChars(kLanguage009, u"Counter"), seededCounter009);  // cleaned before any stop
        EXPECT_EQ(ReadChars(kLanguage010, u"Counter"), c.counter010);
    }
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
