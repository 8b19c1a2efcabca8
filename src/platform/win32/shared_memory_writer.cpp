// Provider-side blocks: named sections in the global namespace, paged from the
// system paging file. The descriptor lets every account read them, so a
// performance host running under another account can open them; only the
// system, administrators and the creator (through its handle) may write.
#include "platform/shared_memory_writer.h"

#include "platform/win32/native.h"

#include <sddl.h>

namespace vz {
namespace plat {

using native::Handle;
using native::Text;

void* CreateWritableSharedMemory(const WCHAR* name, DWORD size, HANDLE* mappingOut) {
    *mappingOut = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;GR;;;WD)", SDDL_REVISION_1, &descriptor, nullptr))
        return nullptr;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    ::HANDLE mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0,
                                            size, Text(name));
    const ::DWORD error = ::GetLastError();
    ::LocalFree(descriptor);
    if (mapping == nullptr) {
        ::SetLastError(error);
        return nullptr;
    }
    void* view = ::MapViewOfFile(mapping, FILE_MAP_WRITE | FILE_MAP_READ, 0, 0, size);
    if (view == nullptr) {
        const ::DWORD mapError = ::GetLastError();
        ::CloseHandle(mapping);
        ::SetLastError(mapError);
        return nullptr;
    }
    *mappingOut = Handle(mapping);
    return view;
}

void CloseWritableSharedMemory(HANDLE mapping, void* view) {
    if (view != nullptr) ::UnmapViewOfFile(view);
    if (mapping != nullptr) ::CloseHandle(Handle(mapping));
}

}  // namespace plat
}  // namespace vz
