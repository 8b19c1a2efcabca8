// What the four COM-style exports do for the module: unload answer, class
// objects (none), and the two registration sequences with their hooks.
#include "module/atl_module.h"
#include "module/module_records.h"
#include "module/vudozid_module.h"

namespace ATL {

using namespace vz;

namespace {

constexpr LCID kSystemDefaultLocale = 0x0800;

// Registration runs under the system's default locale; the caller's thread
// locale comes back on every path.
class SystemLocaleScope {
public:
    SystemLocaleScope() : saved_(plat::GetThreadLocale()) {
        plat::SetThreadLocale(kSystemDefaultLocale);
    }
    ~SystemLocaleScope() { plat::SetThreadLocale(saved_); }
    SystemLocaleScope(const SystemLocaleScope&) = delete;
    SystemLocaleScope& operator=(const SystemLocaleScope&) = delete;

private:
    LCID saved_;
};

const ScriptVariable kRegistrationVariables[] = {{u"APPID", kAppId}, {nullptr, nullptr}};

}  // namespace

HRESULT ModuleCanUnloadNow(CAtlModule& module) {
    return module.LockCount() == 0 ? S_OK : S_FALSE;
}

HRESULT ModuleGetClassObject(const GUID& classId, const GUID&, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (ClassObjects.initialised == 0) return E_UNEXPECTED;
    for (const ClassObjectEntry* entry = ClassObjects.begin; entry != ClassObjects.end; ++entry) {
        // No class of this library has a factory to hand out.
        if (SameGuid(*entry->classId, classId)) break;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT ModuleRegisterServer(CAtlModule& module) {
    SystemLocaleScope locale;
    HRESULT hr = module.RunRegistryResource(kAppIdScriptResource, true, kRegistrationVariables);
    if (Succeeded(hr) && RegisterCountersHook != nullptr)
        hr = RegisterCountersHook(ModuleResources.moduleInstance);
    return hr;
}

HRESULT ModuleUnregisterServer(CAtlModule& module) {
    SystemLocaleScope locale;
    HRESULT hr = S_OK;
    if (UnregisterCountersHook != nullptr) hr = UnregisterCountersHook();
    if (Succeeded(hr))
        hr = module.RunRegistryResource(kAppIdScriptResource, false, kRegistrationVariables);
    return hr;
}

}  // namespace ATL
