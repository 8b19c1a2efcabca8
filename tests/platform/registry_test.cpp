// The emulated registry: error codes, access rights, name case, deletion
// rules and the size protocol of RegQueryValueExW, as the library relies on.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/emulated/emulated_control.h"
#include "platform/platform.h"
#include "support/hresult.h"

namespace vz {
namespace {

using namespace plat;

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        emu::ResetRegistry();
        emu::ClearFaults();
        ASSERT_TRUE(emu::ImportRegText(
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test]\n"
            "\"Text\"=\"abc\"\n"
            "\"Number\"=dword:0000002a\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test\\Child]\n"));
    }
    void TearDown() override {
        emu::ClearFaults();
        EXPECT_EQ(emu::OpenKeyCount(), 0u);
    }
    HKEY Open(const char16_t* path, REGSAM sam) {
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKeyLocalMachine(), path, 0, sam, &key), ERROR_SUCCESS);
        return key;
    }
};

TEST_F(RegistryTest, ErrorCodesOfCommonMisuses) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKeyLocalMachine(), u"SOFTWARE\\Missing", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExW(reinterpret_cast<HKEY>(0x1234), u"x", 0, KEY_READ, &key),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(0x1234)), ERROR_INVALID_HANDLE);

    HKEY test = Open(u"software\\TEST", KEY_READ);  // names are case-insensitive
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(test, u"Absent", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegSetValueExW(test, u"New", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&size), 4),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueW(test, u"Text"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCreateKeyExW(test, u"Fresh", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_ACCESS_DENIED);
    // Opening an existing key through RegCreateKeyExW needs no creation right.
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(test, u"child", 0, nullptr, 0, KEY_READ, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    RegCloseKey(key);

    WCHAR name[8];
    DWORD length = 8;
    EXPECT_EQ(RegEnumKeyExW(test, 1, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    length = 5;  // "Child" needs six units with its terminator
    EXPECT_EQ(RegEnumKeyExW(test, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    length = 6;
    ASSERT_EQ(RegEnumKeyExW(test, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name), u"Child");  // the case it was created with
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(RegCloseKey(test), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(test), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryTest, QueryValueSizeProtocol) {
    HKEY key = Open(u"SOFTWARE\\Test", KEY_READ);
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExW(key, u"TEXT", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 8u);  // "abc" and its terminator
    BYTE data[8] = {0};
    size = 7;
    EXPECT_EQ(RegQueryValueExW(key, u"Text", nullptr, &type, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 8u);
    size = sizeof data;
    ASSERT_EQ(RegQueryValueExW(key, u"Text", nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::memcmp(data, u"abc", 8), 0);
    EXPECT_EQ(RegQueryValueExW(key, u"Text", nullptr, &type, data, nullptr), ERROR_INVALID_PARAMETER);
    DWORD subKeys = 9, longest = 9, values = 9;
    ASSERT_EQ(RegQueryInfoKeyW(key, &subKeys, &longest, &values), ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 1u);
    EXPECT_EQ(longest, 5u);
    EXPECT_EQ(values, 2u);
    RegCloseKey(key);
}

TEST_F(RegistryTest, ValuesKeepExactBytesTypeAndCreationCase) {
    HKEY key = Open(u"SOFTWARE\\Test", KEY_READ | KEY_WRITE);
    const BYTE odd[3] = {1, 2, 3};  // a REG_SZ with an odd byte count stays as given
    ASSERT_EQ(RegSetValueExW(key, u"Odd", 0, REG_SZ, odd, 3), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, u"ODD", 0, REG_BINARY, odd, 2), ERROR_SUCCESS);  // same value
    DWORD type = 0, values = 0;
    BYTE data[4] = {0};
    DWORD size = sizeof data;
    ASSERT_EQ(RegQueryValueExW(key, u"odd", nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(size, 2u);
    ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, &values), ERROR_SUCCESS);
    EXPECT_EQ(values, 3u);
    ASSERT_EQ(RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(u"d"), 4), ERROR_SUCCESS);
    size = sizeof data;
    EXPECT_EQ(RegQueryValueExW(key, u"", nullptr, &type, data, &size), ERROR_SUCCESS);  // default value
    // The name keeps the case it was created with; the type is the last one set.
    EXPECT_NE(emu::ExportRegText("HKEY_LOCAL_MACHINE\\SOFTWARE\\Test").find("\"Odd\"=hex:01,02"),
              std::string::npos);
    EXPECT_EQ(RegDeleteValueW(key, u"oDD"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key, u"Odd"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

TEST_F(RegistryTest, CreateMakesMissingParentsAndDeleteNeedsALeaf) {
    HKEY root = Open(u"SOFTWARE", KEY_READ | KEY_WRITE);
    HKEY deep = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(root, u"A\\B\\C", 0, nullptr, 0, KEY_READ, nullptr, &deep, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_TRUE(emu::KeyExists("HKEY_LOCAL_MACHINE\\SOFTWARE\\a\\b\\c"));
    EXPECT_EQ(RegDeleteKeyW(root, u"A"), ERROR_ACCESS_DENIED);  // has subkeys
    EXPECT_EQ(RegDeleteKeyW(root, u"A\\B\\Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyW(root, u"a\\b\\C"), ERROR_SUCCESS);
    // A handle to a deleted key fails every call but closing.
    DWORD values = 0;
    EXPECT_EQ(RegQueryInfoKeyW(deep, nullptr, nullptr, &values), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(deep), ERROR_SUCCESS);
    RegDeleteKeyExWFn deleteEx = LookUpRegDeleteKeyExW();
    ASSERT_NE(deleteEx, nullptr);
    EXPECT_EQ(deleteEx(root, u"A\\B", 0, 0), ERROR_SUCCESS);
    EXPECT_EQ(deleteEx(root, u"A", 0, 0), ERROR_SUCCESS);
    EXPECT_FALSE(emu::KeyExists("HKEY_LOCAL_MACHINE\\SOFTWARE\\A"));
    RegCloseKey(root);
    // The same entry point is reachable the way the library looks it up.
    HMODULE advapi = GetModuleHandleW(u"ADVAPI32.DLL");
    ASSERT_NE(advapi, nullptr);
    EXPECT_EQ(GetProcAddress(advapi, "RegDeleteKeyExW"), reinterpret_cast<void*>(deleteEx));
}

TEST_F(RegistryTest, PlannedFaultFailsTheNthCallAndChangesNothing) {
    const std::string before = emu::ExportRegText("HKEY_LOCAL_MACHINE\\SOFTWARE");
    HKEY key = Open(u"SOFTWARE\\Test", KEY_READ | KEY_WRITE);
    emu::ResetCallCounts();
    emu::FailCall("RegSetValueExW", 2, 1234);
    const DWORD v = 7;
    EXPECT_EQ(RegSetValueExW(key, u"Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, u"Other", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4), 1234);
    EXPECT_EQ(RegSetValueExW(key, u"Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4), ERROR_SUCCESS);
    emu::FailCall("*", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCloseKey(key), ERROR_ACCESS_DENIED);  // the handle stays open
    EXPECT_EQ(emu::OpenKeyCount(), 1u);
    EXPECT_EQ(emu::RegistryCallLog(), "RegSetValueExW\nRegSetValueExW\nRegSetValueExW\nRegCloseKey\n");
    EXPECT_EQ(emu::RegistryCallCount(), 4u);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(emu::ExportRegText("HKEY_LOCAL_MACHINE\\SOFTWARE\\Test").find("Other"), std::string::npos);
    EXPECT_NE(before, emu::ExportRegText("HKEY_LOCAL_MACHINE\\SOFTWARE"));  // Number is 7 now
}

}  // namespace
}  // namespace vz
