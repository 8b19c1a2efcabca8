// Provider-side blocks and the publisher claim as kernel objects. Blocks are
// sections paged from the system paging file; the claim is a named mutex that
// exists exactly while a publisher holds a handle to it: the kernel closes the
// handles of a process that ends, however it ends, so a dead publisher's claim
// is free again. (Owning the mutex would tie the claim to the thread that
// opened the publisher, which may end long before the publisher does.)
//
// Both carry one descriptor: the publishing account has full access; SYSTEM,
// Administrators, Performance Monitor Users, Performance Log Users, interactive
// users, LocalService and NetworkService may read. A "Global\" section created
// outside session 0 needs SeCreateGlobalPrivilege; without it the creation
// fails with ERROR_ACCESS_DENIED.
#include "platform/shared_memory_writer.h"

#include "platform/win32/native.h"

#include <sddl.h>

#include <string>

namespace vz {
namespace plat {

using native::Handle;
using native::Text;

namespace {

// The string form of the process account's SID, or empty.
std::wstring ProcessAccountSid() {
    ::HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return L"";
    ::DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::wstring result;
    std::string buffer(size, '\0');
    wchar_t* text = nullptr;
    if (size != 0 &&
        ::GetTokenInformation(token, TokenUser, &buffer[0], size, &size) &&
        ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(&buffer[0])->User.Sid, &text)) {
        result = text;
        ::LocalFree(text);
    }
    ::CloseHandle(token);
    return result;
}

// Protected DACL: the publisher's account all access, the readers of
// performance data read access (numeric SIDs: SYSTEM, Administrators,
// Performance Monitor Users, Performance Log Users, Interactive, LocalService,
// NetworkService).
class PublisherSecurity {
public:
    PublisherSecurity() {
        const std::wstring owner = ProcessAccountSid();
        if (owner.empty()) return;
        const std::wstring sddl = L"D:P(A;;GA;;;" + owner +
                                  L")(A;;GR;;;S-1-5-18)(A;;GR;;;S-1-5-32-544)"
                                  L"(A;;GR;;;S-1-5-32-558)(A;;GR;;;S-1-5-32-559)"
                                  L"(A;;GR;;;S-1-5-4)(A;;GR;;;S-1-5-19)(A;;GR;;;S-1-5-20)";
        if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                   &descriptor_, nullptr))
            attributes_ = {sizeof attributes_, descriptor_, FALSE};
    }
    ~PublisherSecurity() {
        if (descriptor_ != nullptr) ::LocalFree(descriptor_);
    }
    PublisherSecurity(const PublisherSecurity&) = delete;
    PublisherSecurity& operator=(const PublisherSecurity&) = delete;
    SECURITY_ATTRIBUTES* Attributes() { return descriptor_ != nullptr ? &attributes_ : nullptr; }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    SECURITY_ATTRIBUTES attributes_ = {};
};

}  // namespace

void* CreateWritableSharedMemory(const WCHAR* name, DWORD size, HANDLE* mappingOut) {
    *mappingOut = nullptr;
    PublisherSecurity security;
    if (security.Attributes() == nullptr) return nullptr;
    ::HANDLE mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, security.Attributes(),
                                            PAGE_READWRITE, 0, size, Text(name));
    if (mapping == nullptr) return nullptr;
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

HANDLE ClaimPublisherName(const WCHAR* name) {
    PublisherSecurity security;
    if (security.Attributes() == nullptr) return nullptr;
    ::HANDLE mutex = ::CreateMutexW(security.Attributes(), FALSE, Text(name));
    const ::DWORD error = ::GetLastError();
    if (mutex != nullptr && error != ERROR_ALREADY_EXISTS) return Handle(mutex);
    if (mutex != nullptr) ::CloseHandle(mutex);
    // Held by a live publisher, of this account or (access denied) another.
    ::SetLastError(mutex != nullptr || error == ERROR_ACCESS_DENIED ? kErrorBusy : error);
    return nullptr;
}

void ReleasePublisherClaim(HANDLE claim) {
    if (claim != nullptr) ::CloseHandle(Handle(claim));
}

}  // namespace plat
}  // namespace vz
