// Registration and unregistration of the server statistics object against a
// seeded perflib: ranges, values, texts and removal, and every registry call
// failing in turn, through the object registration alone and through the
// library's exports.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "common/perflib_seed.h"
#include "module/dll_exports.h"
#include "platform/emulated/emulated_control.h"
#include "platform/platform.h"
#include "registration/registration_driver.h"
#include "server_object.h"
#include "support/utf_text.h"
#include "support/wide_string.h"

namespace vz {
namespace test {
namespace {

const char16_t kLibraryPath[] = u"C:\\Program Files\\Quorvane\\Server 11\\VudoZid.dll";
const char16_t kLanguage009[] = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009";
const char16_t kLanguage010[] = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\010";

HRESULT Register() { return RegisterAllPerfObjects(plat::ThisModule()); }
HRESULT Unregister() { return UnregisterAllPerfObjects(); }

// Sections of .reg text (without the file's header) applied to the registry.
void Apply(const std::string& regText) {
    std::string error;
    ASSERT_TRUE(emu::ImportRegText("Windows Registry Editor Version 5.00\n\n" + regText, &error)) << error;
}

// The seeded pairs outside [first, last], then the run spliced in at its place.
PairList Expected(const std::u16string& seeded, DWORD first, DWORD last, const PairList& run) {
    PairList result;
    bool placed = false;
    for (const auto& pair : DecodePairs(seeded)) {
        DWORD index = static_cast<DWORD>(std::stoul(Utf16ToUtf8(pair.first)));
        if (!placed && index >= first) {
            result.insert(result.end(), run.begin(), run.end());
            placed = true;
        }
        if (index < first || index > last) result.push_back(pair);
    }
    if (!placed) result.insert(result.end(), run.begin(), run.end());
    return result;
}

class RegistrationTest : public ::testing::Test {
protected:
    void SetUp() override { Seed(PerflibSeed{}); }
    void TearDown() override {
        emu::ClearFaults();
        emu::SetModuleFileName(u"");
    }
    // Seeds perflib plus keys that no registration may touch.
    void Seed(const PerflibSeed& seed) {
        SeedPerflib(seed);
        Apply("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Contoso\\Monitor]\n\"Interval\"=dword:0000000f\n"
              "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Other\\Performance]\n"
              "\"Counter\"=hex(7):32,00,00,00,4f,00,74,00,68,00,65,00,72,00,00,00,00,00\n"
              "[HKEY_CLASSES_ROOT\\AppID\\{0THER}]\n@=\"Other\"\n");
        emu::SetThreadLocaleValue(0x0409);
        emu::SetSystemDefaultLangIDValue(0x0409);
        emu::SetModuleFileName(kLibraryPath);
        seededCounter009 = ReadChars(kLanguage009, u"Counter");
        seededHelp009 = ReadChars(kLanguage009, u"Help");
        seededCounter010 = ReadChars(kLanguage010, u"Counter");
        seededHelp010 = ReadChars(kLanguage010, u"Help");
        seededUntouched = Untouched();
        emu::ResetCallCounts();
    }
    // Everything outside the registration's footprint, as exported text.
    static std::string Untouched() {
        return emu::ExportRegText("HKEY_LOCAL_MACHINE\\SOFTWARE\\Contoso") +
               emu::ExportRegText("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Other") +
               emu::ExportRegText("HKEY_CLASSES_ROOT\\AppID\\{0THER}");
    }
    // The performance key is complete, "Languages" is `languages`, the list
    // pair of that language (009 or 010) holds the seeded pairs outside the
    // object's ranges plus the object's pairs once, as one run in index order,
    // and the other language's lists are as seeded (both with no language).
    void ExpectCompleteRegistration(const std::u16string& languages = u"009 ");
    // The perflib pair lists as seeded.
    std::u16string seededCounter009, seededHelp009, seededCounter010, seededHelp010;
    std::string seededUntouched;
};

void RegistrationTest::ExpectCompleteRegistration(const std::u16string& languages) {
    const bool english = languages == u"009 ";
    const std::u16string languageKey = english ? kLanguage009 : kLanguage010;
    const std::u16string& seededCounter = english ? seededCounter009 : seededCounter010;
    const std::u16string& seededHelp = english ? seededHelp009 : seededHelp010;
    if (!english) {
        EXPECT_EQ(ReadChars(kLanguage009, u"Counter") + ReadChars(kLanguage009, u"Help"),
                  seededCounter009 + seededHelp009);
    }
    if (english || languages.empty()) {
        EXPECT_EQ(ReadChars(kLanguage010, u"Counter") + ReadChars(kLanguage010, u"Help"),
                  seededCounter010 + seededHelp010);
    }
    const DWORD firstCounter = ReadDword(kPerformancePath, u"First Counter");
    const DWORD lastCounter = ReadDword(kPerformancePath, u"Last Counter");
    const DWORD firstHelp = ReadDword(kPerformancePath, u"First Help");
    const DWORD lastHelp = ReadDword(kPerformancePath, u"Last Help");
    EXPECT_GE(lastCounter - firstCounter, 32u);
    EXPECT_GE(lastHelp - firstHelp, 32u);
    EXPECT_GE(ReadDword(kPerflibPath, u"Last Counter"), lastCounter);
    EXPECT_GE(ReadDword(kPerflibPath, u"Last Help"), lastHelp);

    // A string exported as text is a REG_SZ of exactly its characters and terminator.
    const std::string key = emu::ExportRegText("HKEY_LOCAL_MACHINE\\" + Utf16ToUtf8(kPerformancePath));
    const std::string lines[] = {
        "\"Close\"=\"_ClosePerfMon@0\"", "\"Collect\"=\"_CollectPerfMon@16\"", "\"Open\"=\"_OpenPerfMon@4\"",
        "\"Library\"=\"C:\\\\Program Files\\\\Quorvane\\\\Server 11\\\\VudoZid.dll\"",
        "\"Languages\"=\"" + Utf16ToUtf8(languages) + "\""};
    for (const std::string& line : lines) {
        EXPECT_NE(key.find("\n" + line + "\n"), std::string::npos) << line << "\n" << key;
    }
    EXPECT_EQ(key.find("Disable Performance Counters"), std::string::npos);

    DWORD type = 0;
    std::vector<BYTE> map;
    ASSERT_TRUE(ReadValue(kPerformancePath, u"Map", &type, &map));
    EXPECT_EQ(type, plat::REG_BINARY);
    ASSERT_GE(map.size(), MapEntriesEnd(17));
    EXPECT_EQ(Get<DWORD>(map.data(), kMapSizeOffset), map.size());
    EXPECT_EQ(Get<DWORD>(map.data(), kMapEntryCountOffset), 17u);
    EXPECT_EQ(Get<DWORD>(map.data(), MapEntryOffset(0) + map_entry::kNameTitleIndex), firstCounter);

    if (languages.empty()) return;
    PairList names, helps;  // the help texts are taken as found, each at its index and not empty
    const PairList actualHelps = DecodePairs(ReadChars(languageKey, u"Help"));
    for (DWORD k = 0; k < 17; ++k) {
        names.emplace_back(Decimal(firstCounter + 2 * k),
                           Utf8ToUtf16(k == 0 ? quorvane::kObjectName : quorvane::kCounters[k - 1].name));
        auto at = std::find_if(actualHelps.begin(), actualHelps.end(),
                               [&](const auto& pair) { return pair.first == Decimal(firstHelp + 2 * k); });
        helps.emplace_back(Decimal(firstHelp + 2 * k), at != actualHelps.end() ? at->second : u"<none>");
        EXPECT_FALSE(helps.back().second.empty());
    }
    EXPECT_EQ(helps.front().second,
              u"L'oggetto Quorvane Server include dei contatori che controllano il servizio di "
              u"Quorvane Server.");
    EXPECT_EQ(ReadChars(languageKey, u"Counter"),
              EncodePairs(Expected(seededCounter, firstCounter, lastCounter, names)));
    EXPECT_EQ(ReadChars(languageKey, u"Help"),
              EncodePairs(Expected(seededHelp, firstHelp, lastHelp, helps)));
}

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

const HRESULT kInjectedResult = HResultFromWin32(ERROR_ACCESS_DENIED);
const LCID kCallerLocale = 0x0410;  // the exports run the object's part under the system's 0x0409

// HKEY_CLASSES_ROOT as exported: another application's AppID, and the library's two keys.
std::string ClassesRoot(bool withOwnKeys) {
    return std::string("Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT]\n\n"
                       "[HKEY_CLASSES_ROOT\\AppID]\n\n") +
           (withOwnKeys ? "[HKEY_CLASSES_ROOT\\AppID\\VudoZid.DLL]\n"
                          "\"AppID\"=\"{FF41D410-F176-44fd-9A2F-AB1668C7A041}\"\n\n" : "") +
           "[HKEY_CLASSES_ROOT\\AppID\\{0THER}]\n@=\"Other\"\n\n" +
           (withOwnKeys ? "[HKEY_CLASSES_ROOT\\AppID\\{FF41D410-F176-44fd-9A2F-AB1668C7A041}]\n"
                          "@=\"VudoZid\"\n\n" : "");
}

struct Operation {
    const char* name;
    HRESULT (*run)();
    bool registering;
    bool throughExports;
    std::vector<std::string> reported;  // calls whose failure must be returned
    std::vector<std::string> ignored;   // calls whose failure must not be
};

const Operation kOperations[] = {
    {"RegisterAllPerfObjects", &Register, true, false,
     {"RegSetValueExW", "RegCreateKeyExW", "RegQueryValueExW"}, {"RegCloseKey", "RegDeleteValueW"}},
    {"UnregisterAllPerfObjects", &Unregister, false, false,
     {"RegSetValueExW", "RegQueryValueExW", "RegOpenKeyExW", "RegDeleteKeyW", "RegDeleteKeyExW"},
     {"RegCloseKey"}},
    {"DllRegisterServer", &DllRegisterServer, true, true, {}, {}},
    {"DllUnregisterServer", &DllUnregisterServer, false, true, {}, {}},
};

void PrintTo(const Operation& op, std::ostream* os) { *os << op.name; }

class FaultTest : public RegistrationTest, public ::testing::WithParamInterface<Operation> {
protected:
    // Seeded (and registered when the operation unregisters), calls counted from here.
    void Prepare() {
        const Operation& op = GetParam();
        Seed(PerflibSeed{});
        seededMachine = emu::ExportRegText(kHklmExportPath);
        if (!op.registering) {
            ASSERT_EQ(op.throughExports ? DllRegisterServer() : Register(), S_OK);
        }
        if (op.throughExports) emu::SetThreadLocaleValue(kCallerLocale);
        callerLocale = plat::GetThreadLocale();
        emu::ResetCallCounts();
    }
    std::string seededMachine;
    LCID callerLocale = 0;
};

// Every registry call of a registration and of an unregistration is made to
// fail in turn: the result must be that call's error (or success where the
// call's result does not matter), nothing outside the footprint may change,
// every key must be closed, the caller's thread locale must come back, and
// running the operation again must repair it.
TEST_P(FaultTest, EachFailingCallIsReportedAndRepairedByARun) {
    const Operation& op = GetParam();
    Prepare();
    ASSERT_EQ(op.run(), S_OK);
    const std::string machine = emu::ExportRegText(kHklmExportPath);
    const std::string classesRoot = emu::ExportRegText("HKEY_CLASSES_ROOT");
    EXPECT_EQ(classesRoot, ClassesRoot(op.registering && op.throughExports));
    std::vector<std::string> calls;
    std::istringstream log(emu::RegistryCallLog());
    for (std::string line; std::getline(log, line);) calls.push_back(line);
    ASSERT_GT(calls.size(), 10u);
    // A second run changes nothing.
    ASSERT_EQ(op.run(), S_OK);
    EXPECT_EQ(emu::ExportRegText(kHklmExportPath) + emu::ExportRegText("HKEY_CLASSES_ROOT"),
              machine + classesRoot);
    EXPECT_EQ(emu::OpenKeyCount(), 0u);
    if (op.registering) {
        ExpectCompleteRegistration();
    } else {  // all that is left is the service key, empty
        ASSERT_TRUE(emu::ImportRegText("Windows Registry Editor Version 5.00\n\n[-HKEY_LOCAL_MACHINE\\" +
                                       Utf16ToUtf8(kServicePath) + "]\n"));
        EXPECT_EQ(emu::ExportRegText(kHklmExportPath), seededMachine);
    }

    for (std::size_t k = 1; k <= calls.size(); ++k) {
        const std::string& call = calls[k - 1];
        SCOPED_TRACE(std::string(op.name) + ", failing call " + std::to_string(k) + ": " + call);
        Prepare();
        emu::FailCall("*", k, ERROR_ACCESS_DENIED);
        const HRESULT hr = op.run();
        emu::ClearFaults();
        if (std::count(op.reported.begin(), op.reported.end(), call) != 0) {
            EXPECT_EQ(hr, kInjectedResult);
        } else if (std::count(op.ignored.begin(), op.ignored.end(), call) != 0) {
            EXPECT_EQ(hr, S_OK);
        } else {
            EXPECT_TRUE(hr == S_OK || hr == kInjectedResult) << std::hex << hr;
        }
        EXPECT_EQ(plat::GetThreadLocale(), callerLocale);
        EXPECT_EQ(Untouched(), seededUntouched);
        if (call != "RegCloseKey") {  // a key whose closing failed stays open, as on Windows
            EXPECT_EQ(emu::OpenKeyCount(), 0u);
        }

        ASSERT_EQ(op.run(), S_OK);
        EXPECT_EQ(emu::ExportRegText("HKEY_CLASSES_ROOT"), classesRoot);
        if (op.registering) {  // an interrupted run may leave its title indices behind
            ExpectCompleteRegistration();
        } else {
            EXPECT_EQ(emu::ExportRegText(kHklmExportPath), machine);
        }
        if (HasFailure()) return;  // one broken step is enough to read
    }
}

INSTANTIATE_TEST_SUITE_P(Operations, FaultTest, ::testing::ValuesIn(kOperations),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace test
}  // namespace vz
