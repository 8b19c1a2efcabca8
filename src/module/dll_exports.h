// The library's COM-style exports. On Windows they use the standard call
// convention; the Linux build exports them under these plain names.
#pragma once
#include "module/com_types.h"

extern "C" {
vz::HRESULT VZ_STDCALL DllCanUnloadNow();
vz::HRESULT VZ_STDCALL DllGetClassObject(const vz::GUID& classId, const vz::GUID& interfaceId,
                                         void** object);
vz::HRESULT VZ_STDCALL DllRegisterServer();
vz::HRESULT VZ_STDCALL DllUnregisterServer();
}
