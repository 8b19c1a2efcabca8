// The writer side of a named shared-memory block, for the provider (the
// database server) and for tests that play its part. The library itself only
// ever opens blocks read-only through OpenFileMappingW.
#pragma once
#include "platform/platform.h"

namespace vz {
namespace plat {

// Creates (or opens, if it exists) the named block of `size` bytes, readable by
// every account, and maps it writable. Returns the view, or null with the last
// error set; `mapping` receives the handle to pass to CloseWritableSharedMemory.
void* CreateWritableSharedMemory(const WCHAR* name, DWORD size, HANDLE* mapping);

// Unmaps the view and closes the handle; the last one to close removes the block.
void CloseWritableSharedMemory(HANDLE mapping, void* view);

}  // namespace plat
}  // namespace vz
