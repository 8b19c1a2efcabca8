#include "module/key_handle.h"

namespace vz {

namespace {

constexpr DWORD kSubkeyNameUnits = 256;

// Whether Advapi32.dll exports RegDeleteKeyExW is asked once per process; the
// platform then supplies a callable with the library's types.
plat::RegDeleteKeyExWFn DeleteKeyExFunction() {
    static const plat::RegDeleteKeyExWFn cached = []() -> plat::RegDeleteKeyExWFn {
        plat::HMODULE advapi = plat::GetModuleHandleW(u"Advapi32.dll");
        if (advapi == nullptr) return nullptr;
        if (plat::GetProcAddress(advapi, "RegDeleteKeyExW") == nullptr) return nullptr;
        return plat::LookUpRegDeleteKeyExW();
    }();
    return cached;
}

}  // namespace

CKeyHandle::CKeyHandle() noexcept : key(nullptr), viewBits_(0) {}

CKeyHandle::~CKeyHandle() { Close(); }

LONG CKeyHandle::Open(plat::HKEY parent, const WCHAR* name, plat::REGSAM sam) {
    plat::HKEY opened = nullptr;
    LONG error = plat::RegOpenKeyExW(parent, name, 0, sam, &opened);
    if (error != ERROR_SUCCESS) return error;
    Close();
    key = opened;
    viewBits_ = sam & plat::KEY_WOW64_RES;
    return ERROR_SUCCESS;
}

LONG CKeyHandle::Create(plat::HKEY parent, const WCHAR* name, plat::REGSAM sam) {
    plat::HKEY created = nullptr;
    DWORD disposition = 0;
    LONG error = plat::RegCreateKeyExW(parent, name, 0, nullptr, plat::REG_OPTION_NON_VOLATILE,
                                       sam, nullptr, &created, &disposition);
    if (error != ERROR_SUCCESS) return error;
    Close();
    key = created;
    viewBits_ = sam & plat::KEY_WOW64_RES;
    return ERROR_SUCCESS;
}

LONG CKeyHandle::Close() {
    LONG error = ERROR_SUCCESS;
    if (key != nullptr) {
        error = plat::RegCloseKey(key);
        key = nullptr;
        viewBits_ = 0;
    }
    return error;
}

void CKeyHandle::Attach(plat::HKEY borrowed) noexcept {
    key = borrowed;
    viewBits_ = 0;
}

plat::HKEY CKeyHandle::Detach() noexcept {
    plat::HKEY borrowed = key;
    key = nullptr;
    viewBits_ = 0;
    return borrowed;
}

LONG CKeyHandle::DeleteTree(const WCHAR* name) {
    CKeyHandle subtree;
    LONG error = subtree.Open(key, name, plat::KEY_READ | plat::KEY_WRITE | viewBits_);
    if (error != ERROR_SUCCESS) return error;
    for (;;) {
        WCHAR child[kSubkeyNameUnits];
        DWORD length = kSubkeyNameUnits;
        if (plat::RegEnumKeyExW(subtree.key, 0, child, &length, nullptr, nullptr, nullptr,
                                nullptr) != ERROR_SUCCESS) {
            break;  // no subkey left, or one whose name does not fit
        }
        error = subtree.DeleteTree(child);
        if (error != ERROR_SUCCESS) return error;  // subtree closes itself
    }
    subtree.Close();
    return RemoveSubkey(name);
}

LONG CKeyHandle::RemoveSubkey(const WCHAR* name) {
    plat::RegDeleteKeyExWFn deleteKeyEx = DeleteKeyExFunction();
    if (deleteKeyEx != nullptr) return deleteKeyEx(key, name, viewBits_, 0);
    return plat::RegDeleteKeyW(key, name);
}

bool KeyHasSubkeys(plat::HKEY key) {
    DWORD subKeys = 0;
    DWORD maxLength = 0;
    DWORD values = 0;
    if (plat::RegQueryInfoKeyW(key, &subKeys, &maxLength, &values) != ERROR_SUCCESS) return false;
    return subKeys > 0;
}

}  // namespace vz
