// The few COM shapes the module needs: GUIDs, the IUnknown slot layout and the
// calling convention of COM methods and of the DLL exports.
#pragma once
#include "support/compiler.h"
#include "support/hresult.h"

namespace vz {

struct GUID {
    DWORD data1;
    WORD data2;
    WORD data3;
    BYTE data4[8];
};

inline bool SameGuid(const GUID& a, const GUID& b) {
    if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.data4[i] != b.data4[i]) return false;
    return true;
}

// Slots 0 to 2 of every COM interface.
struct IUnknown {
    virtual HRESULT VZ_STDCALL QueryInterface(const GUID& interfaceId, void** object) = 0;
    virtual ULONG VZ_STDCALL AddRef() = 0;
    virtual ULONG VZ_STDCALL Release() = 0;
};

}  // namespace vz
