// The three entry points that perflib resolves by the names registered in the
// service's Performance key. On Windows they use the standard call convention
// (exported as _OpenPerfMon@4, _CollectPerfMon@16, _ClosePerfMon@0); the Linux
// build exports them under these plain names.
#pragma once
#include "support/types.h"

#ifdef _WIN32
#define VZ_PERFLIB_CALL __attribute__((stdcall))
#else
#define VZ_PERFLIB_CALL
#endif

extern "C" {
vz::DWORD VZ_PERFLIB_CALL OpenPerfMon(const vz::WCHAR* deviceNames);
vz::DWORD VZ_PERFLIB_CALL CollectPerfMon(const vz::WCHAR* valueName, void** data,
                                         vz::DWORD* totalBytes, vz::DWORD* numObjectTypes);
vz::DWORD VZ_PERFLIB_CALL ClosePerfMon();
}
