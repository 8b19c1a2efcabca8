// Every registry call of a registration and of an unregistration, through the
// library's exports and through the object registration alone, is made to fail
// in turn: the result must be that call's error (or success where the call's
// result does not matter), nothing outside the footprint may change, every key
// must be closed, the caller's thread locale must come back, and running the
// operation again must repair it.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <vector>

#include "module/dll_exports.h"
#include "registration_fixture.h"

namespace vz {
namespace test {
namespace {

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

bool Among(const std::string& call, const std::vector<std::string>& calls) {
    return std::find(calls.begin(), calls.end(), call) != calls.end();
}

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
        if (Among(call, op.reported)) {
            EXPECT_EQ(hr, kInjectedResult);
        } else if (Among(call, op.ignored)) {
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
