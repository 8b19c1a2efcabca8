// The module's static records and the four COM-style exports, up to a complete
// registration and unregistration against a seeded perflib.
#include <sstream>
#include <string>
#include <vector>

#include "collect/perf_exports.h"
#include "common/perflib_seed.h"
#include "module/dll_exports.h"
#include "module/module_records.h"
#include "module/vudozid_module.h"
#include "registration/registration_driver.h"
#include "script_test_support.h"
#include "support/wide_string.h"

namespace vz {
namespace test {
namespace {

const LCID kCallerLocale = 0x0410;
const LANGID kSystemLanguage = 0x0407;
const HRESULT kHookFailure = static_cast<HRESULT>(0x80041234u);

const std::string kDllKey =
    "[HKEY_CLASSES_ROOT\\AppID\\VudoZid.DLL]\n"
    "\"AppID\"=\"{FF41D410-F176-44fd-9A2F-AB1668C7A041}\"\n\n";
const std::string kAppIdKey =
    "[HKEY_CLASSES_ROOT\\AppID\\{FF41D410-F176-44fd-9A2F-AB1668C7A041}]\n"
    "@=\"VudoZid\"\n\n";
const std::string kAppIdKeys = kDllKey + kAppIdKey;

// Fake counter hooks: they record the call and the thread locale they ran under.
struct HookRecord {
    int registerCalls = 0;
    int unregisterCalls = 0;
    plat::HMODULE module = nullptr;
    LCID locale = 0;
    HRESULT result = S_OK;
} g_hooks;

HRESULT FakeRegister(plat::HMODULE module) {
    ++g_hooks.registerCalls;
    g_hooks.module = module;
    g_hooks.locale = plat::GetThreadLocale();
    return g_hooks.result;
}

HRESULT FakeUnregister() {
    ++g_hooks.unregisterCalls;
    g_hooks.locale = plat::GetThreadLocale();
    return g_hooks.result;
}

class ExportsTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        emu::SetThreadLocaleValue(kCallerLocale);
        emu::SetSystemDefaultLangIDValue(kSystemLanguage);
    }
    void TearDown() override {
        RegisterCountersHook = &RegisterAllPerfObjects;
        UnregisterCountersHook = &UnregisterAllPerfObjects;
        emu::SetModuleFileName(u"");
        emu::SetSystemDefaultLangIDValue(1033);
        ScriptTest::TearDown();
    }
    void UseFakeHooks(HRESULT result) {
        g_hooks = HookRecord{};
        g_hooks.result = result;
        RegisterCountersHook = &FakeRegister;
        UnregisterCountersHook = &FakeUnregister;
    }
};

// The module loads ready, refuses to attach after a failed initialisation,
// unloads only without locks and hands out no class object.
TEST_F(ExportsTest, ModuleLifetimeAndClassObjects) {
    EXPECT_FALSE(ModuleInitFailed);
    EXPECT_EQ(ModuleResources.resourceInstance, plat::ThisModule());
    EXPECT_EQ(AttachCheck(nullptr, DLL_PROCESS_ATTACH, nullptr), 1);
    ModuleInitFailed = true;
    EXPECT_EQ(AttachCheck(nullptr, DLL_PROCESS_ATTACH, nullptr), 0);
    EXPECT_EQ(AttachCheck(nullptr, DLL_PROCESS_DETACH, nullptr), 1);
    ModuleInitFailed = false;

    EXPECT_EQ(DllCanUnloadNow(), S_OK);
    EXPECT_EQ(VudoZidModule.IncrementLock(), 1);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    EXPECT_EQ(VudoZidModule.DecrementLock(), 0);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);

    const GUID classFactory = {0x00000001, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    const GUID anyClass = {0xFF41D410, 0xF176, 0x44fd, {0x9A, 0x2F, 0xAB, 0x16, 0x68, 0xC7, 0xA0, 0x41}};
    EXPECT_EQ(DllGetClassObject(anyClass, classFactory, nullptr), E_POINTER);
    void* object = &object;
    EXPECT_EQ(DllGetClassObject(anyClass, classFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);

    void* first = nullptr;
    void* second = nullptr;
    EXPECT_EQ(VudoZidModule.GetInterfaceTable(nullptr), E_POINTER);
    ASSERT_EQ(VudoZidModule.GetInterfaceTable(&first), S_OK);
    ASSERT_EQ(VudoZidModule.GetInterfaceTable(&second), S_OK);
    EXPECT_EQ(first, second);
    plat::ReleaseInterface(first);
    plat::ReleaseInterface(second);
}

struct SequenceCase {
    const char* what;
    bool registerExport;
    HRESULT hookResult;
    const char* failingCall;  // a registry call made to fail, or null
    HRESULT expected;
    int hookCalls;
    bool appIdKeysAfter;
};

const SequenceCase kSequences[] = {
    {"register", true, S_OK, nullptr, S_OK, 1, true},
    {"register, script fails", true, S_OK, "RegCreateKeyExW",
     HResultFromWin32(ERROR_ACCESS_DENIED), 0, false},
    {"register, hook fails", true, kHookFailure, nullptr, kHookFailure, 1, true},
    {"unregister", false, S_OK, nullptr, S_OK, 1, false},
    {"unregister, hook fails", false, kHookFailure, nullptr, kHookFailure, 1, true},
    {"unregister, script fails", false, S_OK, "RegDeleteKeyExW",
     HResultFromWin32(ERROR_ACCESS_DENIED), 1, true},
};

TEST_F(ExportsTest, RegistrationSequencesRestoreTheThreadLocale) {
    for (const SequenceCase& c : kSequences) {
        SCOPED_TRACE(c.what);
        SeedRegistry(c.registerExport ? "" : std::string("[HKEY_CLASSES_ROOT\\AppID]\n\n") + kAppIdKeys);
        UseFakeHooks(c.hookResult);
        if (c.failingCall != nullptr) emu::FailCall(c.failingCall, 1, ERROR_ACCESS_DENIED);
        EXPECT_EQ(c.registerExport ? DllRegisterServer() : DllUnregisterServer(), c.expected);
        EXPECT_EQ(plat::GetThreadLocale(), kCallerLocale);
        EXPECT_EQ(g_hooks.registerCalls + g_hooks.unregisterCalls, c.hookCalls);
        if (c.hookCalls > 0) {
            EXPECT_EQ(g_hooks.locale, kSystemLanguage);
        }
        if (g_hooks.registerCalls > 0) {
            EXPECT_EQ(g_hooks.module, plat::ThisModule());
        }
        const std::string appId = Tree("HKEY_CLASSES_ROOT\\AppID");
        EXPECT_EQ(appId.find("VudoZid.DLL") != std::string::npos, c.appIdKeysAfter) << appId;
        emu::ClearFaults();
    }
}

TEST_F(ExportsTest, LongModulePathFailsBeforeAnyScriptRuns) {
    UseFakeHooks(S_OK);
    emu::SetModuleFileName(u"/" + std::u16string(300, u'p'));
    EXPECT_EQ(DllRegisterServer(), HResultFromWin32(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(emu::RegistryCallCount(), 0u);
    EXPECT_EQ(g_hooks.registerCalls, 0);
    EXPECT_EQ(plat::GetThreadLocale(), kCallerLocale);
}

TEST_F(ExportsTest, PathWithQuoteStillLoadsTheScript) {
    UseFakeHooks(S_OK);
    emu::SetModuleFileName(u"/opt/it's/VudoZid.so");
    ASSERT_EQ(DllRegisterServer(), S_OK);
    EXPECT_EQ(Tree("HKEY_CLASSES_ROOT\\AppID"), std::string("[HKEY_CLASSES_ROOT\\AppID]\n\n") + kAppIdKeys);
}

// The object as a collection describes it with no provider running: from the
// registered "Map", with the title indices the performance key records.
bool DescribedFromTheRegisteredMap() {
    ClosePerfMon();
    std::vector<BYTE> buffer(4096);
    void* data = buffer.data();
    DWORD bytes = static_cast<DWORD>(buffer.size()), objects = 0;
    const bool described = CollectPerfMon(u"Global", &data, &bytes, &objects) == 0 &&
                           bytes == 704 && objects == 1 &&
                           Get<PERF_OBJECT_TYPE>(buffer.data()).ObjectNameTitleIndex == ReadDword(kPerformancePath, u"First Counter");
    ClosePerfMon();
    return described;
}

// The whole registration through the exports with the real counter hooks: a
// registration adds the AppID keys and the object's registration, an
// unregistration leaves only the (empty) service key behind. Then every
// registry call of DllRegisterServer, or of DllUnregisterServer,
// fails in turn: the export reports the failure or rides over it, and running
// it again repairs the registration. An unregistration run again leaves exactly
// the registry of an undisturbed one; a registration run again may have to take
// new title indices (an interrupted one can leave its range behind), so it is
// checked for a complete, consistent registration with the same AppID keys.
// One test per export, each within the per-test time limit under the sanitizers.
class ExportsFaultTest : public ExportsTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ExportsFaultTest, EachFailingRegistryCallIsRepairedByARun) {
    emu::SetSystemDefaultLangIDValue(1033);  // texts go to the seeded 009 key
    auto seed = [] {
        SeedPerflib(PerflibSeed{});  // resets the registry first
        ASSERT_TRUE(emu::ImportRegText(std::string(kRegHeader) + "[HKEY_CLASSES_ROOT\\AppID\\{0THER}]\n@=\"Other\"\n\n"));
        emu::ResetCallCounts();
    };
    const HRESULT injected = HResultFromWin32(ERROR_ACCESS_DENIED);
    {
        const bool registering = GetParam();
        HRESULT (*const run)() = registering ? &DllRegisterServer : &DllUnregisterServer;
        seed();
        const std::string seeded = emu::ExportRegText(kHklmExportPath);
        if (!registering) {
            ASSERT_EQ(DllRegisterServer(), S_OK);
        }
        emu::ResetCallCounts();
        ASSERT_EQ(run(), S_OK);
        EXPECT_EQ(plat::GetThreadLocale(), kCallerLocale);
        const std::string classesRoot = Tree("HKEY_CLASSES_ROOT");
        const std::string machine = emu::ExportRegText(kHklmExportPath);
        EXPECT_EQ(classesRoot.find(kDllKey) != std::string::npos, registering) << classesRoot;
        EXPECT_EQ(classesRoot.find(kAppIdKey) != std::string::npos, registering) << classesRoot;
        EXPECT_NE(classesRoot.find("{0THER}"), std::string::npos) << classesRoot;
        if (registering) {
            EXPECT_TRUE(DescribedFromTheRegisteredMap());
            EXPECT_EQ(ReadDword(kPerformancePath, u"First Counter"), 702u);
            EXPECT_EQ(ReadDword(kPerflibPath, u"Last Help"), 735u);
        } else {
            EXPECT_EQ(Tree(std::string(kHklmExportPath) + "\\" + Utf16ToUtf8(kServicePath)),
                      "[HKEY_LOCAL_MACHINE\\" + Utf16ToUtf8(kServicePath) + "]\n\n");
            CKeyHandle services;
            ASSERT_EQ(services.Open(plat::HKeyLocalMachine(), u"SYSTEM\\CurrentControlSet\\Services"), 0);
            ASSERT_EQ(RemoveSubkey(services, u"Quorvane Server ITA"), 0);
            ASSERT_EQ(services.Close(), 0);
            EXPECT_EQ(emu::ExportRegText(kHklmExportPath), seeded);
        }
        std::vector<std::string> calls;
        std::istringstream log(emu::RegistryCallLog());
        for (std::string call; std::getline(log, call);) calls.push_back(call);
        ASSERT_GT(calls.size(), 10u);
        for (std::size_t k = 1; k <= calls.size(); ++k) {
            const std::string& call = calls[k - 1];
            SCOPED_TRACE(std::string(registering ? "DllRegisterServer" : "DllUnregisterServer") +
                         ", failing call " + std::to_string(k) + ": " + call);
            seed();
            if (!registering) {
                ASSERT_EQ(DllRegisterServer(), S_OK);
            }
            emu::FailCall("*", k, ERROR_ACCESS_DENIED);
            const HRESULT hr = run();
            emu::ClearFaults();
            EXPECT_TRUE(hr == S_OK || hr == injected) << std::hex << hr;
            EXPECT_EQ(plat::GetThreadLocale(), kCallerLocale);
            // A key whose closing failed stays open, as it would on Windows.
            if (call != "RegCloseKey") {
                EXPECT_EQ(emu::OpenKeyCount(), 0u);
            }

            ASSERT_EQ(run(), S_OK);
            EXPECT_EQ(Tree("HKEY_CLASSES_ROOT"), classesRoot);
            if (registering) {
                EXPECT_TRUE(DescribedFromTheRegisteredMap());
                EXPECT_EQ(ReadDword(kPerflibPath, u"Last Counter"),
                          ReadDword(kPerformancePath, u"Last Counter"));
                EXPECT_EQ(ReadDword(kPerflibPath, u"Last Help"),
                          ReadDword(kPerformancePath, u"Last Help"));
            } else {
                EXPECT_EQ(emu::ExportRegText(kHklmExportPath), machine);
            }
            if (HasFailure()) return;  // one broken step is enough to read
        }
    }
    seed();  // drops the handle a failed RegCloseKey left open
}
INSTANTIATE_TEST_SUITE_P(RegisterAndUnregister, ExportsFaultTest, ::testing::Values(true, false));

}  // namespace
}  // namespace test
}  // namespace vz
