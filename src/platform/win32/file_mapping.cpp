// Reader-side file mapping, last error and the allocation granularity.
#include "platform/win32/native.h"

namespace vz {
namespace plat {

using native::Handle;
using native::Text;

HANDLE OpenFileMappingW(DWORD access, BOOL inherit, const WCHAR* name) {
    return Handle(::OpenFileMappingW(access, inherit, Text(name)));
}

void* MapViewOfFileEx(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow,
                      std::size_t size, void* baseAddress) {
    return ::MapViewOfFileEx(Handle(mapping), access, offsetHigh, offsetLow, size, baseAddress);
}

BOOL UnmapViewOfFile(const void* view) { return ::UnmapViewOfFile(view); }

BOOL CloseHandle(HANDLE handle) { return ::CloseHandle(Handle(handle)); }

// The claim is a named mutex that exists while a publisher holds a handle;
// refused access (another account's publisher) still proves that it exists.
bool PublisherClaimHeld(const WCHAR* name) {
    ::HANDLE mutex = ::OpenMutexW(SYNCHRONIZE, FALSE, Text(name));
    if (mutex != nullptr) {
        ::CloseHandle(mutex);
        return true;
    }
    return ::GetLastError() == ERROR_ACCESS_DENIED;
}

DWORD GetAllocationGranularity() {
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    return info.dwAllocationGranularity;
}

DWORD GetLastError() { return ::GetLastError(); }
void SetLastError(DWORD error) { ::SetLastError(error); }

}  // namespace plat
}  // namespace vz
