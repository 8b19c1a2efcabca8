// The module's static records, the four COM-style exports and the registrar
// object they run the library's AppID script resource with.
#include <string>

#include "module/atl_module.h"
#include "module/dll_exports.h"
#include "module/module_records.h"
#include "module/reg_object.h"
#include "module/vudozid_module.h"
#include "registration/registration_driver.h"
#include "script_test_support.h"

namespace vz {
namespace test {
namespace {

const LCID kCallerLocale = 0x0410;
const LANGID kSystemLanguage = 0x0407;
const HRESULT kHookFailure = static_cast<HRESULT>(0x80041234u);

const std::string kAppIdTree =
    "[HKEY_CLASSES_ROOT\\AppID]\n\n"
    "[HKEY_CLASSES_ROOT\\AppID\\VudoZid.DLL]\n"
    "\"AppID\"=\"{FF41D410-F176-44fd-9A2F-AB1668C7A041}\"\n\n"
    "[HKEY_CLASSES_ROOT\\AppID\\{FF41D410-F176-44fd-9A2F-AB1668C7A041}]\n"
    "@=\"VudoZid\"\n\n";

// Fake counter hooks: they count their calls and record the module and the
// thread locale they ran under.
struct HookRecord {
    int calls = 0;
    plat::HMODULE module = nullptr;
    LCID locale = 0;
    HRESULT result = S_OK;
} g_hooks;

HRESULT FakeUnregister() {
    ++g_hooks.calls;
    g_hooks.locale = plat::GetThreadLocale();
    return g_hooks.result;
}

HRESULT FakeRegister(plat::HMODULE module) {
    g_hooks.module = module;
    return FakeUnregister();
}

class ExportsTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        emu::SetThreadLocaleValue(kCallerLocale);
        emu::SetSystemDefaultLangIDValue(kSystemLanguage);
        RegisterCountersHook = &FakeRegister;
        UnregisterCountersHook = &FakeUnregister;
    }
    void TearDown() override {
        RegisterCountersHook = &RegisterAllPerfObjects;
        UnregisterCountersHook = &UnregisterAllPerfObjects;
        emu::SetModuleFileName(u"");
        emu::SetSystemDefaultLangIDValue(1033);
        ScriptTest::TearDown();
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
    std::u16string modulePath;  // empty: the library's own
    HRESULT expected;
    int hookCalls;
    bool appIdKeysAfter;
};

const HRESULT kDenied = HResultFromWin32(ERROR_ACCESS_DENIED);
const SequenceCase kSequences[] = {
    {"register", true, S_OK, nullptr, u"", S_OK, 1, true},
    {"register, script fails", true, S_OK, "RegCreateKeyExW", u"", kDenied, 0, false},
    {"register, hook fails", true, kHookFailure, nullptr, u"", kHookFailure, 1, true},
    {"register, path with a quote", true, S_OK, nullptr, u"/opt/it's/VudoZid.so", S_OK, 1, true},
    {"register, path too long for the script", true, S_OK, nullptr, u"/" + std::u16string(300, u'p'),
     HResultFromWin32(ERROR_INSUFFICIENT_BUFFER), 0, false},
    {"unregister", false, S_OK, nullptr, u"", S_OK, 1, false},
    {"unregister, hook fails", false, kHookFailure, nullptr, u"", kHookFailure, 1, true},
    {"unregister, script fails", false, S_OK, "RegDeleteKeyExW", u"", kDenied, 1, true},
};

TEST_F(ExportsTest, RegistrationSequencesRestoreTheThreadLocale) {
    for (const SequenceCase& c : kSequences) {
        SCOPED_TRACE(c.what);
        SeedRegistry(c.registerExport ? "" : kAppIdTree);
        g_hooks = HookRecord{};
        g_hooks.result = c.hookResult;
        emu::SetModuleFileName(c.modulePath);
        if (c.failingCall != nullptr) emu::FailCall(c.failingCall, 1, ERROR_ACCESS_DENIED);
        EXPECT_EQ(c.registerExport ? DllRegisterServer() : DllUnregisterServer(), c.expected);
        EXPECT_EQ(plat::GetThreadLocale(), kCallerLocale);
        EXPECT_EQ(g_hooks.calls, c.hookCalls);
        EXPECT_EQ(g_hooks.locale, c.hookCalls > 0 ? kSystemLanguage : 0);
        EXPECT_EQ(g_hooks.module, c.registerExport && c.hookCalls > 0 ? plat::ThisModule() : nullptr);
        const char* emptied = c.registerExport ? "" : "[HKEY_CLASSES_ROOT\\AppID]\n\n";
        EXPECT_EQ(Tree("HKEY_CLASSES_ROOT\\AppID"), c.appIdKeysAfter ? kAppIdTree : emptied);
        emu::ClearFaults();
    }
}

std::u16string LibraryPath() {
    WCHAR path[plat::MAX_PATH];
    const DWORD length = plat::GetModuleFileNameW(plat::ThisModule(), path, plat::MAX_PATH);
    return std::u16string(path, length);
}

class RegistrarTest : public ExportsTest {
protected:
    ATL::CRegObject registrar;
};

// The registrar's COM slots hand out nothing and count nothing; variables
// keep every entry, the first of a name wins, and clearing empties the table.
TEST_F(RegistrarTest, VariablesKeepEveryEntryAndTheFirstWins) {
    void* object = &registrar;
    EXPECT_EQ(registrar.QueryInterface(GUID{1, 2, 3, {4}}, &object), E_NOTIMPL);
    EXPECT_EQ(object, &registrar);
    EXPECT_EQ(registrar.AddRef(), 1u);
    EXPECT_EQ(registrar.Release(), 0u);
    EXPECT_EQ(registrar.AddVariable(nullptr, u"x"), E_INVALIDARG);
    EXPECT_EQ(registrar.AddVariable(u"x", nullptr), E_INVALIDARG);
    EXPECT_EQ(registrar.Variables().Count(), 0u);
    EXPECT_EQ(registrar.AddVariable(u"Name", u"First"), S_OK);
    EXPECT_EQ(registrar.AddVariable(u"NAME", u"Second"), S_OK);
    EXPECT_EQ(registrar.Variables().Count(), 2u);
    EXPECT_EQ(RunScript(u"HKCR { %name% }", true, &registrar.Variables()), S_OK);
    EXPECT_EQ(Tree("HKEY_CLASSES_ROOT"), "[HKEY_CLASSES_ROOT]\n\n[HKEY_CLASSES_ROOT\\First]\n\n");
    EXPECT_EQ(registrar.ClearVariables(), S_OK);
    EXPECT_EQ(registrar.Variables().Count(), 0u);
    EXPECT_EQ(RunScript(u"HKCR { %name% }", true, &registrar.Variables()), DISP_E_EXCEPTION);
}

TEST_F(RegistrarTest, ResourceFailuresComeFromTheLoader) {
    const struct {
        std::u16string path;
        unsigned id;
        const char16_t* type;
        LONG error;
    } cases[] = {
        {LibraryPath(), 102, u"REGISTRY", ERROR_RESOURCE_NAME_NOT_FOUND},
        {LibraryPath(), 101, u"NOSUCHTYPE", ERROR_RESOURCE_TYPE_NOT_FOUND},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(registrar.RegisterFromResource(c.path.c_str(), c.id, c.type), HResultFromWin32(c.error))
            << c.error;
        EXPECT_EQ(emu::RegistryCallCount(), 0u);
    }
    EXPECT_LT(registrar.RegisterFromResource(u"/no/such/VudoZid.dll", 101, u"REGISTRY"), 0);
}

// Module and Module_Raw double the path's quotes.
TEST_F(RegistrarTest, ModulePathVariablesDoubleQuotes) {
    WCHAR path[ATL::kModulePathUnits];
    emu::SetModuleFileName(u"/opt/it's/VudoZid.so");
    ASSERT_EQ(ATL::AddModuleVariables(registrar, plat::ThisModule(), path), S_OK);
    EXPECT_EQ(std::u16string(path), u"/opt/it's/VudoZid.so");
    EXPECT_EQ(std::u16string(registrar.Variables().Lookup(u"Module")), u"/opt/it''s/VudoZid.so");
    EXPECT_EQ(std::u16string(registrar.Variables().Lookup(u"Module_Raw")), u"/opt/it''s/VudoZid.so");

    // The executable's path is put in double quotes; Module_Raw never is.
    ATL::CRegObject forExecutable;
    ASSERT_EQ(ATL::AddModuleVariables(forExecutable, plat::GetModuleHandleW(nullptr), path), S_OK);
    const std::u16string module = forExecutable.Variables().Lookup(u"Module");
    const std::u16string raw = forExecutable.Variables().Lookup(u"Module_Raw");
    EXPECT_EQ(module, u"\"" + raw + u"\"");

    // The doubled value reads back as the path inside a quoted script string.
    EXPECT_EQ(RunScript(u"HKCR { K = s '%Module_Raw%' }", true, &registrar.Variables()), S_OK);
    EXPECT_EQ(Tree("HKEY_CLASSES_ROOT\\K"), "[HKEY_CLASSES_ROOT\\K]\n@=\"/opt/it's/VudoZid.so\"\n\n");
}

}  // namespace
}  // namespace test
}  // namespace vz
