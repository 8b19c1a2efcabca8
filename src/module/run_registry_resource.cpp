// One run of a script resource of this library through a fresh registrar,
// with the module path supplied as the variables "Module" and "Module_Raw".
#include "module/atl_module.h"
#include "module/module_records.h"
#include "module/reg_object.h"

namespace ATL {

using namespace vz;

namespace {

constexpr std::size_t kEscapedPathUnits = 2 * kModulePathUnits;

// Doubles every single quote so the path can stand inside a quoted script
// string; stops when the buffer is full, never splitting a doubled quote.
void EscapeQuotes(const WCHAR* path, WCHAR* escaped) {
    std::size_t out = 0;
    for (const WCHAR* in = path; *in != 0 && out < kEscapedPathUnits - 1; ++in) {
        escaped[out++] = *in;
        if (*in == u'\'' && out < kEscapedPathUnits - 1) escaped[out++] = u'\'';
    }
    escaped[out] = 0;
}

}  // namespace

HRESULT AddModuleVariables(CRegObject& registrar, plat::HMODULE module, WCHAR* path) {
    const DWORD length = plat::GetModuleFileNameW(module, path, kModulePathUnits);
    if (length == 0) return HResultFromLastError();
    if (length == kModulePathUnits) return HResultFromWin32(ERROR_INSUFFICIENT_BUFFER);

    WCHAR escaped[kEscapedPathUnits];
    EscapeQuotes(path, escaped);

    // The executable's own path is quoted; a library's path is not.
    HRESULT hr;
    if (module == nullptr || module == plat::GetModuleHandleW(nullptr)) {
        WCHAR quoted[kEscapedPathUnits + 2];
        std::size_t out = 0;
        quoted[out++] = u'"';
        for (const WCHAR* in = escaped; *in != 0; ++in) quoted[out++] = *in;
        quoted[out++] = u'"';
        quoted[out] = 0;
        hr = registrar.AddVariable(u"Module", quoted);
    } else {
        hr = registrar.AddVariable(u"Module", escaped);
    }
    if (Failed(hr)) return hr;
    return registrar.AddVariable(u"Module_Raw", escaped);
}

HRESULT CAtlModule::RunRegistryResource(unsigned resourceId, bool registerMode,
                                        const ScriptVariable* variables) {
    CRegObject registrar;
    if (variables != nullptr) {
        for (const ScriptVariable* entry = variables; entry->name != nullptr; ++entry)
            if (entry->value != nullptr) registrar.AddVariable(entry->name, entry->value);
    }
    HRESULT hr = CurrentModule->AddCommonVariables(&registrar);
    if (Failed(hr)) return hr;

    WCHAR path[kModulePathUnits];
    hr = AddModuleVariables(registrar, ModuleResources.moduleInstance, path);
    if (Failed(hr)) return hr;
    return registerMode ? registrar.RegisterFromResource(path, resourceId, u"REGISTRY")
                        : registrar.UnregisterFromResource(path, resourceId, u"REGISTRY");
}

}  // namespace ATL
