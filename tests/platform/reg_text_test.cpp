// .reg text import and export: exact bytes survive a round trip, exports are
// canonical, deletions apply, registry files are read whole or refused; the
// emulated registry's planned faults and call log.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <vector>

#include "common/perflib_seed.h"
#include "platform/emulated/emulated_control.h"
#include "platform/platform.h"
#include "support/hresult.h"

namespace vz {
namespace {

using namespace plat;

const char kTree[] =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\RoundTrip]\r\n"
    "@=\"default \\\"quoted\\\" C:\\\\path\"\r\n"
    "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
    "\"Expand\"=hex(2):25,00,00,00\r\n"
    "\"Bin\"=hex:00,ff,\\\r\n"
    "  10\r\n"
    "\"Q\"=hex(b):01,00,00,00,00,00,00,00\r\n"
    "\"Dw\"=dword:0000002a\r\n"
    "\"Short\"=hex(4):01,02\r\n"
    "\"Unterminated\"=hex(1):41,00\r\n"
    "\"Text\"=\"Quantit\xC3\xA0\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\RoundTrip\\b]\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\RoundTrip\\A]\r\n";

// A value of the RoundTrip key; empty when missing.
std::vector<BYTE> Query(const char16_t* name, DWORD* type) {
    std::vector<BYTE> data;
    test::ReadValue(u"SOFTWARE\\RoundTrip", name, type, &data);
    return data;
}

class RegTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        emu::ResetRegistry();
        std::string error;
        ASSERT_TRUE(emu::ImportRegText(kTree, &error)) << error;
    }
};

TEST_F(RegTextTest, ImportGivesTheExactTypesAndBytes) {
    struct Case {
        const char16_t* name;
        DWORD type;
        std::vector<BYTE> bytes;
    } cases[] = {
        {u"Multi", REG_MULTI_SZ, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}},
        {u"Expand", REG_EXPAND_SZ, {'%', 0, 0, 0}},
        {u"Bin", REG_BINARY, {0x00, 0xFF, 0x10}},
        {u"Q", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}},
        {u"Dw", REG_DWORD, {42, 0, 0, 0}},
        {u"Short", REG_DWORD, {1, 2}},
        {u"Unterminated", REG_SZ, {'A', 0}},
        {u"Text", REG_SZ, {'Q', 0, 'u', 0, 'a', 0, 'n', 0, 't', 0, 'i', 0, 't', 0, 0xE0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        DWORD type = 99;
        EXPECT_EQ(Query(c.name, &type), c.bytes);
        EXPECT_EQ(type, c.type);
    }
    const std::u16string defaultText = u"default \"quoted\" C:\\path";
    EXPECT_EQ(test::ReadChars(u"SOFTWARE\\RoundTrip", u""), defaultText + u'\0');
}

TEST_F(RegTextTest, ExportIsSortedAndReimportsToTheSameTree) {
    const std::string path = "HKEY_LOCAL_MACHINE\\SOFTWARE\\RoundTrip";
    const std::string first = emu::ExportRegText(path);
    EXPECT_LT(first.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\RoundTrip\\A]"),
              first.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\RoundTrip\\b]"));
    EXPECT_LT(first.find("@="), first.find("\"Bin\""));
    EXPECT_LT(first.find("\"Bin\""), first.find("\"Dw\""));
    EXPECT_NE(first.find("\"Dw\"=dword:0000002a\n"), std::string::npos);
    emu::ResetRegistry();
    ASSERT_TRUE(emu::ImportRegText(first));
    EXPECT_EQ(emu::ExportRegText(path), first);
    EXPECT_EQ(emu::ExportRegText("HKEY_LOCAL_MACHINE\\SOFTWARE\\Nothing"), "");
}

TEST_F(RegTextTest, DeletionLinesRemoveKeysAndValues) {
    ASSERT_TRUE(emu::ImportRegText("[-HKEY_LOCAL_MACHINE\\SOFTWARE\\RoundTrip\\A]\n"
                                   "[HKLM\\SOFTWARE\\RoundTrip]\n\"Dw\"=-\n"));
    EXPECT_FALSE(emu::KeyExists("HKEY_LOCAL_MACHINE\\SOFTWARE\\RoundTrip\\A"));
    EXPECT_TRUE(emu::KeyExists("HKEY_LOCAL_MACHINE\\SOFTWARE\\RoundTrip\\b"));
    DWORD type = 0;
    EXPECT_TRUE(Query(u"Dw", &type).empty());
}

// Registry files are read whole or refused with the line and the reason.
TEST_F(RegTextTest, FilesInRegeditsFormsAndDamagedOnes) {
    const std::string file = ::testing::TempDir() + "vudozid_forms_test.reg";
    const std::string v5 = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\RoundTrip]\r\n";
    auto utf16 = [](const std::u16string& text) {
        std::string bytes = "\xFF\xFE";
        for (char16_t c : text) bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
        return bytes;
    };
    struct Row {
        std::string bytes;
        std::string error;  // empty: read, and "Text" holds `text`
        std::u16string text;
        DWORD type;
    } rows[] = {
        {v5 + "\"Text\"=\"Quantit\xC3\xA0\"\r\n", "", u"Quantit\u00E0", REG_SZ},
        {"REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\RoundTrip]\r\n\"Text\"=hex(7):61,e0,00,62,00,00\r\n", "",
         std::u16string(u"a\u00E0\0b\0\0", 6), REG_MULTI_SZ},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\RoundTrip]\n\"Text\"=\"Quantit\xE0\"\n", "", u"Quantit\u00E0", REG_SZ},
        {utf16(u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\RoundTrip]\r\n"
               u"\"Text\"=\"\u20AC\"\r\n"), "", u"\u20AC", REG_SZ},
        {"", "line 1: the file is empty", u"", 0},
        {v5 + "\"Text\"=\"abc\"\r\nnonsense\r\n", "line 5: neither a [key]", u"", 0},
        {v5 + "\"Text\"=hex:01,\\\r\n", "line 4: the file ends inside this value", u"", 0},
        {v5 + "\"Text\"=dword:000", "line 4: truncated", u"", 0},
        {v5 + "\"Text\"=dword:xyz\r\n", "line 4: value data not understood", u"", 0},
        {v5 + "\"Text\"=hex:1,zz\r\n", "line 4: value data not understood", u"", 0},
        {v5 + "[HKEY_NOWHERE\\x]\r\n", "line 4: unknown root key", u"", 0},
        {v5 + "\"Text\"=\"\xFF\"\r\n", "line 4: unknown encoding: not UTF-8", u"", 0},
        {"\xFE\xFF\0W", "line 1: unknown encoding: a UTF-16BE", u"", 0},
        {std::string("W\0i\0", 4), "line 1: unknown encoding: a NUL byte", u"", 0},
        {utf16(u"Windows Registry Editor Version 5.00\r\n") + "x", "line 2: truncated: an odd number", u"", 0},
        {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\RoundTrip]\n", "line 1: not a registry file", u"", 0},
    };
    for (const Row& row : rows) {
        std::ofstream(file, std::ios::binary) << row.bytes;
        std::string error;
        const bool loaded = emu::LoadRegistryFile(file, &error);
        EXPECT_EQ(loaded, row.error.empty()) << row.bytes;
        EXPECT_EQ(error.compare(0, row.error.size(), row.error), 0) << error;
        if (!loaded) continue;
        DWORD type = 0;
        Query(u"Text", &type);
        EXPECT_EQ(type, row.type);
        const std::u16string terminator(type == REG_SZ ? 1 : 0, u'\0');
        EXPECT_EQ(test::ReadChars(u"SOFTWARE\\RoundTrip", u"Text"), row.text + terminator) << row.bytes;
    }
    std::remove(file.c_str());
}

// Planned faults fail the nth call of one function (or of any) and change
// nothing; a key whose closing failed stays open. Exports keep the case a
// value name was created with and the type last set.
TEST_F(RegTextTest, PlannedFaultsCallLogAndValueNameCase) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKeyLocalMachine(), u"SOFTWARE\\RoundTrip", 0, KEY_READ | KEY_WRITE, &key), 0);
    emu::ResetCallCounts();
    emu::FailCall("RegSetValueExW", 2, 1234);
    const BYTE odd[3] = {1, 2, 3};
    EXPECT_EQ(RegSetValueExW(key, u"Odd", 0, REG_SZ, odd, 3), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, u"Other", 0, REG_SZ, odd, 3), 1234);
    EXPECT_EQ(RegSetValueExW(key, u"ODD", 0, REG_BINARY, odd, 2), ERROR_SUCCESS);
    emu::FailCall("*", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCloseKey(key), ERROR_ACCESS_DENIED);
    EXPECT_EQ(emu::OpenKeyCount(), 1u);
    EXPECT_EQ(emu::RegistryCallLog(), "RegSetValueExW\nRegSetValueExW\nRegSetValueExW\nRegCloseKey\n");
    EXPECT_EQ(emu::RegistryCallCount(), 4u);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(emu::OpenKeyCount(), 0u);
    const std::string text = emu::ExportRegText("HKEY_LOCAL_MACHINE\\SOFTWARE\\RoundTrip");
    EXPECT_EQ(text.find("Other"), std::string::npos);
    EXPECT_NE(text.find("\"Odd\"=hex:01,02\n"), std::string::npos);
    // The registry's library is advapi32's, as the library looks RegDeleteKeyExW up there.
    HMODULE advapi = GetModuleHandleW(u"ADVAPI32.DLL");
    ASSERT_NE(advapi, nullptr);
    EXPECT_EQ(GetProcAddress(advapi, "RegDeleteKeyExW"), reinterpret_cast<void*>(LookUpRegDeleteKeyExW()));
}

}  // namespace
}  // namespace vz
