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

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
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

// Owned by the publisher's account, with a protected DACL: the account all access, the readers of
// performance data read access (numeric SIDs: SYSTEM, Administrators,
// Performance Monitor Users, Performance Log Users, Interactive, LocalService,
// NetworkService).
class PublisherSecurity {
public:
    PublisherSecurity() {
        const std::wstring owner = ProcessAccountSid();
        if (owner.empty()) return;
        // The account is named owner, which the squat check looks for.
        const std::wstring sddl = L"O:" + owner + L"D:P(A;;GA;;;" + owner +
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

// Whether this process's account made the existing object: its owner is the
// account's user SID or the token's default owner (the Administrators group
// for an elevated administrator), which is what the kernel gave an object
// that this account created. False when the owner cannot be read.
bool CreatedByThisAccount(::HANDLE object) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                          nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    bool ours = false;
    ::HANDLE token = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        for (TOKEN_INFORMATION_CLASS kind : {TokenUser, TokenOwner}) {
            ::DWORD size = 0;
            ::GetTokenInformation(token, kind, nullptr, 0, &size);
            std::string buffer(size, '\0');
            if (size == 0 || !::GetTokenInformation(token, kind, &buffer[0], size, &size)) continue;
            PSID sid = kind == TokenUser ? reinterpret_cast<TOKEN_USER*>(&buffer[0])->User.Sid
                                         : reinterpret_cast<TOKEN_OWNER*>(&buffer[0])->Owner;
            ours = ours || ::EqualSid(owner, sid);
        }
        ::CloseHandle(token);
    }
    ::LocalFree(descriptor);
    return ours;
}

// Records the failed call and leaves its error in GetLastError().
void Failed(const char* call) {
    const ::DWORD error = ::GetLastError();
    RecordWriterFailure(call, error);
    ::SetLastError(error);
}

}  // namespace

void* CreateWritableSharedMemory(const WCHAR* name, DWORD size, HANDLE* mappingOut) {
    *mappingOut = nullptr;
    PublisherSecurity security;
    if (security.Attributes() == nullptr) {
        Failed("ConvertStringSecurityDescriptorToSecurityDescriptorW");
        return nullptr;
    }
    ::HANDLE mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, security.Attributes(),
                                            PAGE_READWRITE, 0, size, Text(name));
    if (mapping == nullptr) {
        Failed("CreateFileMappingW");
        if (::GetLastError() != ERROR_ACCESS_DENIED) return nullptr;
        // Denied: either this account may not create "Global\" sections, or
        // the section exists and another account made it.
        ::HANDLE existing = ::OpenFileMappingW(FILE_MAP_READ, FALSE, Text(name));
        const bool exists = existing != nullptr || ::GetLastError() == ERROR_ACCESS_DENIED;
        if (existing != nullptr) ::CloseHandle(existing);
        ::SetLastError(exists ? kErrorNotOwner : ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (::GetLastError() == ERROR_ALREADY_EXISTS && !CreatedByThisAccount(mapping)) {
        ::CloseHandle(mapping);
        ::SetLastError(kErrorNotOwner);
        return nullptr;
    }
    void* view = ::MapViewOfFile(mapping, FILE_MAP_WRITE | FILE_MAP_READ, 0, 0, size);
    if (view == nullptr) {
        Failed("MapViewOfFile");
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
    if (security.Attributes() == nullptr) {
        Failed("ConvertStringSecurityDescriptorToSecurityDescriptorW");
        return nullptr;
    }
    ::HANDLE mutex = ::CreateMutexW(security.Attributes(), FALSE, Text(name));
    const ::DWORD error = ::GetLastError();
    if (mutex != nullptr && error != ERROR_ALREADY_EXISTS) return Handle(mutex);
    if (mutex == nullptr) {
        Failed("CreateMutexW");
        if (error != ERROR_ACCESS_DENIED) return nullptr;
    }
    // Held by a live publisher of this account, or made by another account
    // (which may deny this one even opening it).
    const bool ours = mutex != nullptr && CreatedByThisAccount(mutex);
    if (mutex != nullptr) ::CloseHandle(mutex);
    ::SetLastError(ours ? kErrorBusy : kErrorNotOwner);
    return nullptr;
}

bool RemoveLeftSharedMemory(const WCHAR*) { return false; }

void SystemErrorText(unsigned long code, char* text, std::size_t size) {
    if (size == 0) return;
    wchar_t* sentence = nullptr;
    const ::DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<::DWORD>(code), 0, reinterpret_cast<wchar_t*>(&sentence), 0, nullptr);
    int written = 0;
    if (length != 0) {
        // Without the line break that system sentences end with.
        ::DWORD units = length;
        while (units > 0 && (sentence[units - 1] == L'\r' || sentence[units - 1] == L'\n')) --units;
        written = ::WideCharToMultiByte(CP_UTF8, 0, sentence, static_cast<int>(units), text,
                                        static_cast<int>(size - 1), nullptr, nullptr);
    }
    if (sentence != nullptr) ::LocalFree(sentence);
    if (written > 0)
        text[written] = '\0';
    else  // no sentence, or one too long for `text`
        std::snprintf(text, size, "system error %lu", code);
}

void ReleasePublisherClaim(HANDLE claim) {
    if (claim != nullptr) ::CloseHandle(Handle(claim));
}

}  // namespace plat
}  // namespace vz
