// The three entry points that perflib resolves by the names registered in the
// service's Performance key. On Windows they use the standard call convention
// (exported as _OpenPerfMon@4, _CollectPerfMon@16, _ClosePerfMon@0); the Linux
// build exports them under these plain names.
#pragma once
#include "support/compiler.h"
#include "support/types.h"

extern "C" {
vz::DWORD VZ_STDCALL OpenPerfMon(const vz::WCHAR* deviceNames);
vz::DWORD VZ_STDCALL CollectPerfMon(const vz::WCHAR* valueName, void** data,
                                         vz::DWORD* totalBytes, vz::DWORD* numObjectTypes);
vz::DWORD VZ_STDCALL ClosePerfMon();
}
