// The registry-script runner on arbitrary text against the emulated registry:
// register, then unregister the same text. The first byte picks the encoding
// (bit 0: the rest is UTF-16LE, else one unit per byte) and whether the
// unregister pass runs (bit 1). Every key the runner opens must be closed again.
#include <cstdint>
#include <string>

#include "module/registry_script.h"
#include "common/emulated_machine.h"

namespace {

const char kSeed[] =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_CLASSES_ROOT\\AppID\\{0THER}]\n@=\"Other\"\n\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{X}]\n\n"
    "[HKEY_CURRENT_USER\\Software\\Existing]\n\"v\"=\"w\"\n\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t mode = data[0];
    std::u16string text;
    if (mode & 1) {
        for (std::size_t i = 1; i + 1 < size; i += 2)
            text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    } else {
        for (std::size_t i = 1; i < size; ++i) text.push_back(static_cast<char16_t>(data[i]));
    }
    // The runner reads up to the first NUL, as it does with a resource text.
    vz::test::ResetMachine();
    vz::test::LoadRegistryText(kSeed);

    vz::VariableTable variables;
    variables.Add(u"APPID", u"{FF41D410-F176-44fd-9A2F-AB1668C7A041}");
    variables.Add(u"Module", u"/opt/it''s/VudoZid.so");
    variables.Add(u"Module_Raw", u"/opt/it''s/VudoZid.so");

    vz::CRegistryScript registerRun(variables);
    static_cast<void>(registerRun.Run(text.c_str(), true));  // any result; no key may stay open
    if (vz::test::OpenRegistryKeys() != 0) __builtin_trap();
    if (mode & 2) {
        vz::CRegistryScript unregisterRun(variables);
        static_cast<void>(unregisterRun.Run(text.c_str(), false));
        if (vz::test::OpenRegistryKeys() != 0) __builtin_trap();
    }
    return 0;
}
