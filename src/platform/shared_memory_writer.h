// The provider side of the statistics blocks: creating a named, writable
// file-mapping object that readers in other processes open read-only with
// OpenFileMappingW. On Windows the object lives in the kernel namespace with
// a descriptor that grants read access to everyone; in the emulated platform it
// is a POSIX shared-memory object (see emu::SharedMemoryObjectName).
#pragma once
#include "platform/platform.h"

namespace vz {
namespace plat {

// Creates (or opens, when it exists) the object `name` of `size` bytes and maps
// all of it writable. Returns the view and stores the mapping handle in
// `mappingOut`; null on failure with the error in GetLastError().
void* CreateWritableSharedMemory(const WCHAR* name, DWORD size, HANDLE* mappingOut);
// Unmaps the view and closes the handle; either may be null. In the emulated
// platform this also removes the name, so later opens fail as they do on
// Windows once the last creator handle is gone.
void CloseWritableSharedMemory(HANDLE mapping, void* view);

}  // namespace plat
}  // namespace vz
