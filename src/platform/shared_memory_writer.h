// The provider side of the statistics blocks: creating a named, writable
// file-mapping object that readers in other processes open read-only with
// OpenFileMappingW, and claiming an application name for one publisher. On
// Windows both are kernel objects whose descriptor lets the accounts that read
// performance data read and only the creating account write; in the emulated
// platform they are POSIX shared-memory objects (see emu::SharedMemoryObjectName).
// None of this is linked into the reader library.
#pragma once
#include "platform/platform.h"

namespace vz {
namespace plat {

// Results in GetLastError() that the provider tells apart.
constexpr DWORD kErrorAccessDenied = 5;  // ERROR_ACCESS_DENIED
constexpr DWORD kErrorBusy = 170;        // ERROR_BUSY: the name is claimed

// Creates (or opens, when it exists) the object `name` of at least `size`
// bytes and maps `size` bytes writable. An object that exists (a reader still
// holds the blocks of an earlier run) is reused as it is. Returns the view and
// stores the mapping handle in `mappingOut`; null on failure with the error in
// GetLastError().
void* CreateWritableSharedMemory(const WCHAR* name, DWORD size, HANDLE* mappingOut);
// Unmaps the view and closes the handle; either may be null. In the emulated
// platform this also removes the name, so later opens fail as they do on
// Windows once the last creator handle is gone.
void CloseWritableSharedMemory(HANDLE mapping, void* view);

// Claims `name` for this publisher: null with kErrorBusy when another
// publisher, in this or another process, holds it. The claim ends with
// ReleasePublisherClaim or with the process, however it ends.
HANDLE ClaimPublisherName(const WCHAR* name);
void ReleasePublisherClaim(HANDLE claim);

}  // namespace plat
}  // namespace vz
