#include "registration_fixture.h"

#include <algorithm>

#include "server_object.h"
#include "support/utf_text.h"
#include "support/wide_string.h"

namespace vz {
namespace test {

const char16_t kLibraryPath[] = u"C:\\Program Files\\Quorvane\\Server 11\\VudoZid.dll";
const char16_t kLanguage009[] = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009";
const char16_t kLanguage010[] = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\010";

namespace {

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

}  // namespace

void Apply(const std::string& regText) {
    std::string error;
    ASSERT_TRUE(emu::ImportRegText("Windows Registry Editor Version 5.00\n\n" + regText, &error)) << error;
}

void RegistrationTest::Seed(const PerflibSeed& seed) {
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

std::string RegistrationTest::Untouched() {
    return emu::ExportRegText("HKEY_LOCAL_MACHINE\\SOFTWARE\\Contoso") +
           emu::ExportRegText("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Other") +
           emu::ExportRegText("HKEY_CLASSES_ROOT\\AppID\\{0THER}");
}

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
    PairList names, helps;
    for (DWORD k = 0; k < 17; ++k)
        names.emplace_back(Decimal(firstCounter + 2 * k),
                           Utf8ToUtf16(k == 0 ? quorvane::kObjectName : quorvane::kCounters[k - 1].name));
    PairList actualHelps = DecodePairs(ReadChars(languageKey, u"Help"));
    for (DWORD k = 0; k < 17; ++k) {
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

}  // namespace test
}  // namespace vz
