#include "module/dll_exports.h"

#include "module/vudozid_module.h"

extern "C" vz::HRESULT VZ_STDCALL DllCanUnloadNow() {
    return vz::VudoZidModule.DllCanUnloadNow();
}

extern "C" vz::HRESULT VZ_STDCALL DllGetClassObject(const vz::GUID& classId,
                                                    const vz::GUID& interfaceId, void** object) {
    return vz::VudoZidModule.DllGetClassObject(classId, interfaceId, object);
}

extern "C" vz::HRESULT VZ_STDCALL DllRegisterServer() {
    return vz::VudoZidModule.DllRegisterServer();
}

extern "C" vz::HRESULT VZ_STDCALL DllUnregisterServer() {
    return vz::VudoZidModule.DllUnregisterServer();
}
