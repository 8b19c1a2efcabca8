// The registry-script runner in both modes against the emulated registry.
#include "script_test_support.h"

namespace vz {
namespace test {
namespace {

// Every keyword, value type and both root-name forms in one script.
const char16_t kFullScript[] = uR"(HKCR
{
	NoRemove Keep
	{
		'Plain Key' = s 'default text'
		{
			val Str = s 'it''s %NAME%'
			val Multi = m 'a\0b'
			val Num = d '10'
			val Bin = b '0aFF'
			Child
		}
		ForceRemove Fresh = s 'new'
		Delete Gone
		ForceRemove CLSID
	}
}
HKEY_CURRENT_USER
{
	Software
	{
		'Vz Test'
		{
			val Empty = m ''
			val Cut = m 'a\0\0b'
			val Blank = b ''
			val NonHex = b 'zz'
		}
	}
}
)";

const char kFullSeed[] =
    "[HKEY_CLASSES_ROOT\\Keep\\Fresh\\Old]\n\"v\"=\"old\"\n\n"
    "[HKEY_CLASSES_ROOT\\Keep\\Gone\\Sub]\n\n"
    "[HKEY_CLASSES_ROOT\\Keep\\CLSID\\{Other}]\n\n"
    "[HKEY_CURRENT_USER\\Software\\Other]\n\n";

TEST_F(ScriptTest, FullScriptRegistersAndUnregisters) {
    SeedRegistry(kFullSeed);
    VariableTable variables;
    ASSERT_TRUE(variables.Add(u"name", u"Value"));
    ASSERT_EQ(RunScript(kFullScript, true, &variables), S_OK);
    EXPECT_EQ(Tree("HKEY_CLASSES_ROOT\\Keep"),
              "[HKEY_CLASSES_ROOT\\Keep]\n\n"
              "[HKEY_CLASSES_ROOT\\Keep\\CLSID]\n\n"
              "[HKEY_CLASSES_ROOT\\Keep\\CLSID\\{Other}]\n\n"
              "[HKEY_CLASSES_ROOT\\Keep\\Fresh]\n@=\"new\"\n\n"
              "[HKEY_CLASSES_ROOT\\Keep\\Plain Key]\n"
              "@=\"default text\"\n"
              "\"Bin\"=hex:0a,ff\n"
              "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"
              "\"Num\"=dword:0000000a\n"
              "\"Str\"=\"it's Value\"\n\n"
              "[HKEY_CLASSES_ROOT\\Keep\\Plain Key\\Child]\n\n");
    EXPECT_EQ(Tree("HKEY_CURRENT_USER\\Software"),
              "[HKEY_CURRENT_USER\\Software]\n\n"
              "[HKEY_CURRENT_USER\\Software\\Other]\n\n"
              "[HKEY_CURRENT_USER\\Software\\Vz Test]\n"
              "\"Blank\"=hex:\n"
              "\"Cut\"=hex(7):61,00,00,00,00,00\n"
              "\"Empty\"=hex(7):00,00\n"
              "\"NonHex\"=hex:00\n\n");

    ASSERT_EQ(RunScript(kFullScript, false, &variables), S_OK);
    // Keep is NoRemove; CLSID and Software keep undescribed subkeys.
    EXPECT_EQ(Tree("HKEY_CLASSES_ROOT\\Keep"),
              "[HKEY_CLASSES_ROOT\\Keep]\n\n"
              "[HKEY_CLASSES_ROOT\\Keep\\CLSID]\n\n"
              "[HKEY_CLASSES_ROOT\\Keep\\CLSID\\{Other}]\n\n");
    EXPECT_EQ(Tree("HKEY_CURRENT_USER\\Software"),
              "[HKEY_CURRENT_USER\\Software]\n\n"
              "[HKEY_CURRENT_USER\\Software\\Other]\n\n");
    // A second run finds nothing left to remove and still succeeds.
    const std::string after = Tree("HKEY_CLASSES_ROOT") + Tree("HKEY_CURRENT_USER");
    EXPECT_EQ(RunScript(kFullScript, false, &variables), S_OK);
    EXPECT_EQ(Tree("HKEY_CLASSES_ROOT") + Tree("HKEY_CURRENT_USER"), after);
}

struct EntryCase {
    const char* what;
    std::u16string script;
    bool registerMode;
    const char* seed;
    std::string keyPath;
    std::string expected;  // the tree of keyPath afterwards, "" when it is gone
};

std::u16string Repeat(char16_t ch, std::size_t count) { return std::u16string(count, ch); }

const EntryCase kEntryCases[] = {
    {"%% gives one percent sign", u"HKCR { K = s '100%%' }", true, "", "HKEY_CLASSES_ROOT\\K",
     "[HKEY_CLASSES_ROOT\\K]\n@=\"100%\"\n\n"},
    {"NoRemove then ForceRemove names a key ForceRemove",
     u"HKCR { NoRemove ForceRemove Next }", true, "", "HKEY_CLASSES_ROOT",
     "[HKEY_CLASSES_ROOT]\n\n[HKEY_CLASSES_ROOT\\ForceRemove]\n\n[HKEY_CLASSES_ROOT\\Next]\n\n"},
    {"ForceRemove on a quoted unprotected name recreates the key",
     u"HKCR { ForceRemove 'My Key' { Sub } }", true,
     "[HKEY_CLASSES_ROOT\\My Key\\Old]\n\"x\"=\"y\"\n\n", "HKEY_CLASSES_ROOT\\My Key",
     "[HKEY_CLASSES_ROOT\\My Key]\n\n[HKEY_CLASSES_ROOT\\My Key\\Sub]\n\n"},
    {"ForceRemove never removes a protected key", u"HKCR { ForceRemove clsid = s 'd' }", true,
     "[HKEY_CLASSES_ROOT\\CLSID\\{X}]\n\n", "HKEY_CLASSES_ROOT\\CLSID",
     "[HKEY_CLASSES_ROOT\\CLSID]\n@=\"d\"\n\n[HKEY_CLASSES_ROOT\\CLSID\\{X}]\n\n"},
    {"Delete removes a tree and skips its value", u"HKCR { Delete Gone = s 'x' }", true,
     "[HKEY_CLASSES_ROOT\\Gone\\A\\B]\n\n", "HKEY_CLASSES_ROOT\\Gone", ""},
    {"Delete is a plain key entry when unregistering", u"HKCR { Delete Gone }", false,
     "[HKEY_CLASSES_ROOT\\Gone]\n\"v\"=\"w\"\n\n", "HKEY_CLASSES_ROOT\\Gone", ""},
    {"a NoRemove key stays while its children go", u"HKCR { NoRemove P { C } }", false,
     "[HKEY_CLASSES_ROOT\\P\\C]\n\n", "HKEY_CLASSES_ROOT\\P", "[HKEY_CLASSES_ROOT\\P]\n\n"},
    {"a key with undescribed subkeys stays", u"HKCR { P { C } }", false,
     "[HKEY_CLASSES_ROOT\\P\\C]\n\n[HKEY_CLASSES_ROOT\\P\\D]\n\n", "HKEY_CLASSES_ROOT\\P",
     "[HKEY_CLASSES_ROOT\\P]\n\n[HKEY_CLASSES_ROOT\\P\\D]\n\n"},
    {"a missing key is skipped with its block", u"HKCR { Missing { val V = s 'x' Sub } K }",
     false, "[HKEY_CLASSES_ROOT\\K]\n\n", "HKEY_CLASSES_ROOT\\K", ""},
    {"a NoRemove value stays", u"HKCR { NoRemove K { NoRemove val V = s 'x' val W = s 'y' } }",
     false, "[HKEY_CLASSES_ROOT\\K]\n\"V\"=\"1\"\n\"W\"=\"2\"\n\n", "HKEY_CLASSES_ROOT\\K",
     "[HKEY_CLASSES_ROOT\\K]\n\"V\"=\"1\"\n\n"},
    {"value names may hold backslashes", u"HKCR { K { val 'a\\b' = d '&H10' } }", true, "",
     "HKEY_CLASSES_ROOT\\K", "[HKEY_CLASSES_ROOT\\K]\n\"a\\\\b\"=dword:00000010\n\n"},
    {"letter case of keywords and types does not matter",
     u"hkcr { noremove K { VAL v = S 'x' } }", true, "", "HKEY_CLASSES_ROOT\\K",
     "[HKEY_CLASSES_ROOT\\K]\n\"v\"=\"x\"\n\n"},
    // The expansion pass copies the first unit of each character step only, so
    // a combining mark after a letter is dropped.
    {"expansion steps over combining marks", u"HKCR { 'cafe\u0301' }", true, "",
     "HKEY_CLASSES_ROOT", "[HKEY_CLASSES_ROOT]\n\n[HKEY_CLASSES_ROOT\\cafe]\n\n"},
    {"blanks after the last section are fine", u"HKCR { K }\r\n\t \n", true, "",
     "HKEY_CLASSES_ROOT\\K", "[HKEY_CLASSES_ROOT\\K]\n\n"},
    {"an empty script registers nothing", u"", true, "", "HKEY_CLASSES_ROOT", "[HKEY_CLASSES_ROOT]\n\n"},
    {"an empty script removes nothing", u"", false, "[HKEY_CLASSES_ROOT\\K]\n\n", "HKEY_CLASSES_ROOT\\K",
     "[HKEY_CLASSES_ROOT\\K]\n\n"},
    {"tokens of 4094 units", u"HKCR { " + Repeat(u'n', 255) + u" = s '" + Repeat(u'x', 4094) + u"' }", true,
     "", "HKEY_CLASSES_ROOT\\" + std::string(255, 'n'),
     "[HKEY_CLASSES_ROOT\\" + std::string(255, 'n') + "]\n@=\"" + std::string(4094, 'x') + "\"\n\n"},
    {"variables expand once, by the first of a name in any case",
     u"HKCR { %" + Repeat(u'v', 31) + u"% = s '%mOdUlE%' }", true, "", "HKEY_CLASSES_ROOT\\Long",
     "[HKEY_CLASSES_ROOT\\Long]\n@=\"x%Module%\"\n\n"},
};

TEST_F(ScriptTest, EntriesBehaveAsTheLanguageDefines) {
    VariableTable variables;
    ASSERT_TRUE(variables.Add(u"Module", u"x%Module%"));
    ASSERT_TRUE(variables.Add(u"MODULE", u"second"));
    ASSERT_TRUE(variables.Add(Repeat(u'v', 31).c_str(), u"Long"));
    for (const EntryCase& c : kEntryCases) {
        SCOPED_TRACE(c.what);
        SeedRegistry(c.seed);
        EXPECT_EQ(RunScript(c.script, c.registerMode, &variables), S_OK);
        EXPECT_EQ(Tree(c.keyPath), c.expected);
    }
}

struct FailureCase {
    const char* what;
    std::u16string script;
    bool registerMode;
    HRESULT expected;
};

const std::vector<FailureCase> kFailureCases = {
    {"only blanks", u" \t\r\n", true, DISP_E_EXCEPTION},
    {"root name without block", u"HKCR", true, DISP_E_EXCEPTION},
    {"unknown root", u"HKXX { K }", true, DISP_E_EXCEPTION},
    {"no brace after the root", u"HKCR K { }", true, DISP_E_EXCEPTION},
    {"unclosed quote", u"HKCR { 'abc }", true, DISP_E_EXCEPTION},
    {"unclosed variable", u"HKCR { %abc }", true, DISP_E_EXCEPTION},
    {"unknown variable", u"HKCR { %abc% }", false, DISP_E_EXCEPTION},
    {"variable name of 32 units", u"HKCR { %" + Repeat(u'v', 32) + u"% }", true, E_FAIL},
    {"variable name of 31 units is looked up", u"HKCR { %" + Repeat(u'v', 31) + u"% }", true, DISP_E_EXCEPTION},
    {"text ends after the opening brace", u"HKCR {", true, DISP_E_EXCEPTION},
    {"text ends inside a block", u"HKCR { val V = s 'x'", true, DISP_E_EXCEPTION},
    {"backslash in a key name", u"HKCR { a\\b }", true, DISP_E_EXCEPTION},
    {"backslash in a key name, unregistering", u"HKCR { a\\b }", false, DISP_E_EXCEPTION},
    {"backslash after ForceRemove", u"HKCR { ForceRemove a\\b }", true, DISP_E_EXCEPTION},
    {"Val without =", u"HKCR { val V s 'x' }", true, DISP_E_EXCEPTION},
    {"Val without =, unregistering", u"HKCR { val V s 'x' }", false, DISP_E_EXCEPTION},
    {"unknown type", u"HKCR { K = q 'x' }", true, DISP_E_EXCEPTION},
    {"binary text of odd length", u"HKCR { K = b 'abc' }", true, E_FAIL},
    {"token of 4095 units", u"HKCR { " + Repeat(u'k', 4095) + u" }", true, DISP_E_EXCEPTION},
    {"quoted token of 4095 units", u"HKCR { '" + Repeat(u'k', 4095) + u"' }", false, DISP_E_EXCEPTION},
    {"blocks nested too deep", u"HKCR { " + [] {
         std::u16string nested;
         for (int i = 0; i < CRegistryScript::kMaxBlockDepth + 1; ++i) nested += u"K { ";
         return nested;
     }(), false, DISP_E_EXCEPTION},
};

TEST_F(ScriptTest, MalformedScriptsFailWithTheirResult) {
    const char seed[] = "[HKEY_CLASSES_ROOT\\Existing]\n\"v\"=\"w\"\n\n";
    for (const FailureCase& c : kFailureCases) {
        SCOPED_TRACE(c.what);
        SeedRegistry(seed);
        const std::string before = Tree("HKEY_CLASSES_ROOT");
        EXPECT_EQ(RunScript(c.script, c.registerMode), c.expected);
        EXPECT_EQ(Tree("HKEY_CLASSES_ROOT"), before);
        EXPECT_EQ(emu::OpenKeyCount(), 0u);
    }
}

TEST_F(ScriptTest, FailedSecondRootSectionIsRolledBack) {
    SeedRegistry("[HKEY_CURRENT_USER\\Before]\n\"v\"=\"w\"\n\n");
    const std::u16string script =
        u"HKCR { First { val V = s 'one' } }\n"
        u"HKCU { Before { val v = s 'changed' } Second { Deeper } Bad = b 'abc' }";
    EXPECT_EQ(RunScript(script, true), E_FAIL);
    EXPECT_EQ(Tree("HKEY_CLASSES_ROOT\\First"), "[HKEY_CLASSES_ROOT\\First]\n\"V\"=\"one\"\n\n");
    // The rollback applies the unregister rules to the whole section, so it
    // also removes the key that existed before the run.
    EXPECT_EQ(Tree("HKEY_CURRENT_USER"), "[HKEY_CURRENT_USER]\n\n");
}

TEST_F(ScriptTest, ReadOnlyKeyIsEnteredButItsValuesCannotBeWritten) {
    SeedRegistry("[HKEY_CLASSES_ROOT\\Locked\\Child]\n\n");
    // The read-write open is refused; the read-only open then succeeds.
    emu::FailCall("RegOpenKeyExW", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(RunScript(u"HKCR { NoRemove Locked { Child } }", true), S_OK);
    emu::FailCall("RegOpenKeyExW", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(RunScript(u"HKCR { NoRemove Locked = s 'x' }", true), HResultFromWin32(ERROR_ACCESS_DENIED));
    EXPECT_EQ(Tree("HKEY_CLASSES_ROOT\\Locked"),
              "[HKEY_CLASSES_ROOT\\Locked]\n\n[HKEY_CLASSES_ROOT\\Locked\\Child]\n\n");
}

struct RegistryFailureCase {
    const char* what;
    bool registerMode;
    const char* function;
    std::size_t nth;
    LONG error;
    bool reported;  // the run returns the error as an HRESULT, else S_OK
};

const RegistryFailureCase kRegistryFailures[] = {
    {"key cannot be opened or created", true, "RegCreateKeyExW", 1, ERROR_BADKEY, true},
    {"value cannot be written", true, "RegSetValueExW", 1, ERROR_ACCESS_DENIED, true},
    {"key cannot be opened for unregistering", false, "RegOpenKeyExW", 1, ERROR_ACCESS_DENIED, true},
    {"missing key when unregistering", false, "RegOpenKeyExW", 1, ERROR_FILE_NOT_FOUND, false},
    {"parent of a value cannot be opened", false, "RegOpenKeyExW", 2, ERROR_ACCESS_DENIED, true},
    {"value cannot be removed", false, "RegDeleteValueW", 1, ERROR_ACCESS_DENIED, true},
    {"value already gone", false, "RegDeleteValueW", 1, ERROR_FILE_NOT_FOUND, false},
    {"key cannot be closed", false, "RegCloseKey", 2, ERROR_INVALID_HANDLE, true},
    {"key cannot be removed", false, "RegDeleteKeyExW", 1, ERROR_ACCESS_DENIED, true},
};

TEST_F(ScriptTest, RegistryFailuresAreReturnedAsHResults) {
    const char16_t script[] = u"HKCR { K { val V = s 'x' } }";
    for (const RegistryFailureCase& c : kRegistryFailures) {
        SCOPED_TRACE(c.what);
        SeedRegistry(c.registerMode ? "" : "[HKEY_CLASSES_ROOT\\K]\n\"V\"=\"x\"\n\n");
        emu::FailCall(c.function, c.nth, c.error);
        EXPECT_EQ(RunScript(script, c.registerMode), c.reported ? HResultFromWin32(c.error) : S_OK);
        emu::ClearFaults();
    }
}

TEST_F(ScriptTest, AllocationFailures) {
    // The expansion buffer is the first allocation of a run, the multi-string
    // and binary buffers the second.
    allocation_hooks::FailAfter(1);
    EXPECT_EQ(RunScript(u"HKCR { K }", true), E_OUTOFMEMORY);
    allocation_hooks::FailAfter(2);
    EXPECT_EQ(RunScript(u"HKCR { K = m 'a' }", true), E_OUTOFMEMORY);
    allocation_hooks::FailAfter(2);
    EXPECT_EQ(RunScript(u"HKCR { K = b '00' }", true), E_FAIL);
    allocation_hooks::FailAfter(0);
    EXPECT_EQ(Tree("HKEY_CLASSES_ROOT"), "[HKEY_CLASSES_ROOT]\n\n");
}

}  // namespace
}  // namespace test
}  // namespace vz
