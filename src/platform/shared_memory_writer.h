// The provider side of the statistics blocks: creating a named, writable
// file-mapping object that readers in other processes open read-only with
// OpenFileMappingW, and claiming an application name for one publisher. On
// Windows both are kernel objects whose descriptor lets the accounts that read
// performance data read and only the creating account write; in the emulated
// platform they are POSIX shared-memory objects (see emu::SharedMemoryObjectName).
// None of this is linked into the reader library.
#pragma once
#include <cstddef>

#include "platform/platform.h"

namespace vz {
namespace plat {

// Results in GetLastError() that the provider tells apart.
constexpr DWORD kErrorAccessDenied = 5;  // ERROR_ACCESS_DENIED
constexpr DWORD kErrorBusy = 170;        // ERROR_BUSY: the name is claimed
// ERROR_INVALID_OWNER: an object of the name exists and another account made
// it (on Linux: another uid owns it, or its group or others may write it).
constexpr DWORD kErrorNotOwner = 1307;

// Creates (or opens, when it exists) the object `name` of at least `size`
// bytes and maps `size` bytes writable. An object that exists (a reader still
// holds the blocks of an earlier run) is reused as it is when this account
// made it, and refused with kErrorNotOwner otherwise. Returns the view and
// stores the mapping handle in `mappingOut`; null on failure with the error in
// GetLastError().
void* CreateWritableSharedMemory(const WCHAR* name, DWORD size, HANDLE* mappingOut);
// Unmaps the view and closes the handle; either may be null. The name goes
// with the last handle to the object, a reader's included, on both platforms.
void CloseWritableSharedMemory(HANDLE mapping, void* view);
// Removes the name of a block that a publisher which ended without closing
// left behind, when this account made it, even while a reader still holds it
// (so that no reader opens it again): true when one was removed. Windows keeps
// the name while a reader holds the section, so there it is always false.
bool RemoveLeftSharedMemory(const WCHAR* name);

// Claims `name` for this publisher: null with kErrorBusy when another
// publisher of this account, in this or another process, holds it, or with
// kErrorNotOwner when the name belongs to another account. The claim ends
// with ReleasePublisherClaim or with the process, however it ends.
HANDLE ClaimPublisherName(const WCHAR* name);
void ReleasePublisherClaim(HANDLE claim);

// The system call whose failure made the last of the functions above fail on
// this thread: the system's own code (errno, or GetLastError() on Windows)
// and the call's name. Code 0 when none failed since ClearWriterFailure.
struct WriterFailure {
    unsigned long code = 0;
    const char* call = "";
};
inline WriterFailure& LastWriterFailure() {
    static thread_local WriterFailure failure;
    return failure;
}
inline void ClearWriterFailure() { LastWriterFailure() = WriterFailure(); }
inline void RecordWriterFailure(const char* call, unsigned long code) {
    LastWriterFailure().call = call;
    LastWriterFailure().code = code;
}
// The system's sentence for `code` in UTF-8, cut to fit and NUL-terminated.
void SystemErrorText(unsigned long code, char* text, std::size_t size);

}  // namespace plat
}  // namespace vz
