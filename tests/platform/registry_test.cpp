// The emulated registry's own controls: export, planned faults, open handles.
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

// The rest of the registry's behaviour is checked against Windows too
// (registry_semantics_test.cpp); these need the emulation's own controls.
TEST_F(RegistryTest, ExportKeepsCreationCaseAndDeleteKeyExIsAdvapi32s) {
    HKEY key = Open(u"SOFTWARE\\Test", KEY_READ | KEY_WRITE);
    const BYTE odd[3] = {1, 2, 3};
    ASSERT_EQ(RegSetValueExW(key, u"Odd", 0, REG_SZ, odd, 3), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, u"ODD", 0, REG_BINARY, odd, 2), ERROR_SUCCESS);
    // The name keeps the case it was created with; the type is the last one set.
    EXPECT_NE(emu::ExportRegText("HKEY_LOCAL_MACHINE\\SOFTWARE\\Test").find("\"Odd\"=hex:01,02"),
              std::string::npos);
    RegCloseKey(key);
    HMODULE advapi = GetModuleHandleW(u"ADVAPI32.DLL");
    ASSERT_NE(advapi, nullptr);
    EXPECT_EQ(GetProcAddress(advapi, "RegDeleteKeyExW"), reinterpret_cast<void*>(LookUpRegDeleteKeyExW()));
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
