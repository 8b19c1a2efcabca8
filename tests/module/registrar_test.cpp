// The registrar object and the library's AppID script resource.
#include "module/atl_module.h"
#include "module/reg_object.h"
#include "script_test_support.h"

namespace vz {
namespace test {
namespace {

std::u16string LibraryPath() {
    WCHAR path[plat::MAX_PATH];
    const DWORD length = plat::GetModuleFileNameW(plat::ThisModule(), path, plat::MAX_PATH);
    return std::u16string(path, length);
}

class RegistrarTest : public ScriptTest {
protected:
    void TearDown() override {
        emu::SetModuleFileName(u"");
        ScriptTest::TearDown();
    }
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
    struct Case {
        const char* what;
        std::u16string path;
        unsigned id;
        const char16_t* type;
        HRESULT expected;
    };
    const Case cases[] = {
        {"missing name", LibraryPath(), 102, u"REGISTRY",
         HResultFromWin32(ERROR_RESOURCE_NAME_NOT_FOUND)},
        {"missing type", LibraryPath(), 101, u"NOSUCHTYPE",
         HResultFromWin32(ERROR_RESOURCE_TYPE_NOT_FOUND)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(registrar.RegisterFromResource(c.path.c_str(), c.id, c.type), c.expected);
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
