// Registry semantics the library relies on: error codes, access rights, name
// case, deletion rules and the size protocol of RegQueryValueExW. Built for
// Linux against the emulated registry and with mingw-w64 against the real
// Win32 registry (run under Wine), with the same expectations.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "module/key_handle.h"
#include "platform/platform.h"
#include "support/hresult.h"

namespace vz {
namespace {

using namespace plat;

// Wine's ntdll exports wine_get_version; Windows' and the emulation's do not.
bool RunningOnWine() {
    HMODULE ntdll = GetModuleHandleW(u"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// A key of its own under HKEY_CURRENT_USER, removed again afterwards by the
// library's own tree removal: Text = "abc" (REG_SZ), Number = 42 (REG_DWORD),
// subkey Child\Grandchild.
class RegistrySemantics : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RegCreateKeyExW(HKeyCurrentUser(), u"Software\\VudoZid platform test", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &base_, nullptr),
                  ERROR_SUCCESS);
        const DWORD number = 42;
        ASSERT_EQ(RegSetValueExW(base_, u"Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"abc"), 8), 0);
        ASSERT_EQ(RegSetValueExW(base_, u"Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4), 0);
        HKEY child = nullptr;
        ASSERT_EQ(RegCreateKeyExW(base_, u"Child\\Grandchild", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child,
                                  nullptr),
                  0);
        RegCloseKey(child);
    }
    void TearDown() override {
        RegCloseKey(base_);
        CKeyHandle software;
        ASSERT_EQ(software.Open(HKeyCurrentUser(), u"Software"), ERROR_SUCCESS);
        EXPECT_EQ(DeleteKeyTree(software, u"VudoZid platform test"), ERROR_SUCCESS);
        EXPECT_EQ(DeleteKeyTree(software, u"VudoZid platform test"), ERROR_FILE_NOT_FOUND);
    }
    HKEY Open(const char16_t* subKey, REGSAM sam) {
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExW(base_, subKey, 0, sam, &key), ERROR_SUCCESS);
        return key;
    }

    HKEY base_ = nullptr;
};

TEST_F(RegistrySemantics, ErrorCodesOfCommonMisuses) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(base_, u"Missing", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExW(reinterpret_cast<HKEY>(0x1234), u"x", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(0x1234)), ERROR_INVALID_HANDLE);

    HKEY test = Open(u"", KEY_READ);
    HKEY upper = Open(u"CHILD", KEY_READ);  // names are case-insensitive
    RegCloseKey(upper);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(test, u"Absent", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegSetValueExW(test, u"New", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&size), 4),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueW(test, u"Text"), ERROR_ACCESS_DENIED);
    // Windows documents that the parent handle needs KEY_CREATE_SUB_KEY to
    // create a key, and the emulation follows it; Wine creates it anyway.
    const LONG created = RegCreateKeyExW(test, u"Fresh", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (RunningOnWine()) {
        EXPECT_EQ(created, ERROR_SUCCESS);
        RegCloseKey(key);
        EXPECT_EQ(RegDeleteKeyW(base_, u"Fresh"), ERROR_SUCCESS);
    } else {
        EXPECT_EQ(created, ERROR_ACCESS_DENIED);
    }
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

TEST_F(RegistrySemantics, QueryValueSizeProtocol) {
    HKEY key = Open(u"", KEY_READ);
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
    DWORD subKeys = 9, longest = 9, values = 9;
    ASSERT_EQ(RegQueryInfoKeyW(key, &subKeys, &longest, &values), ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 1u);
    EXPECT_EQ(longest, 5u);
    EXPECT_EQ(values, 2u);
    RegCloseKey(key);
}

TEST_F(RegistrySemantics, ValuesKeepExactBytesTypeAndCreationCase) {
    HKEY key = Open(u"", KEY_READ | KEY_WRITE);
    const BYTE odd[3] = {1, 2, 3};  // a REG_SZ with an odd byte count stays as given
    ASSERT_EQ(RegSetValueExW(key, u"Odd", 0, REG_SZ, odd, 3), ERROR_SUCCESS);
    DWORD type = 0, values = 0;
    BYTE data[4] = {0};
    DWORD size = sizeof data;
    ASSERT_EQ(RegQueryValueExW(key, u"Odd", nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 3u);
    ASSERT_EQ(RegSetValueExW(key, u"ODD", 0, REG_BINARY, odd, 2), ERROR_SUCCESS);  // same value
    size = sizeof data;
    ASSERT_EQ(RegQueryValueExW(key, u"odd", nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(size, 2u);
    ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, &values), ERROR_SUCCESS);
    EXPECT_EQ(values, 3u);
    ASSERT_EQ(RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(u"d"), 4), ERROR_SUCCESS);
    size = sizeof data;
    EXPECT_EQ(RegQueryValueExW(key, u"", nullptr, &type, data, &size), ERROR_SUCCESS);  // default value
    EXPECT_EQ(RegDeleteValueW(key, u"oDD"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key, u"Odd"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

TEST_F(RegistrySemantics, CreateMakesMissingParentsAndDeleteNeedsALeaf) {
    HKEY deep = nullptr, found = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(base_, u"A\\B\\C", 0, nullptr, 0, KEY_READ, nullptr, &deep, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    ASSERT_EQ(RegOpenKeyExW(base_, u"a\\b\\c", 0, KEY_READ, &found), ERROR_SUCCESS);
    RegCloseKey(found);
    EXPECT_EQ(RegDeleteKeyW(base_, u"A"), ERROR_ACCESS_DENIED);  // has subkeys
    EXPECT_EQ(RegDeleteKeyW(base_, u"A\\B\\Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyW(base_, u"a\\b\\C"), ERROR_SUCCESS);
    // A handle to a deleted key fails every call but closing.
    DWORD values = 0;
    EXPECT_EQ(RegQueryInfoKeyW(deep, nullptr, nullptr, &values), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(deep), ERROR_SUCCESS);
    EXPECT_NE(LookUpRegDeleteKeyExW(), nullptr);  // the tree removal at the end deletes A and A\B with it
}

}  // namespace
}  // namespace vz
