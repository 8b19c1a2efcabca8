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

LONG DeleteKeyTree(CKeyHandle& parent, const WCHAR* name) {
    CKeyHandle subtree;
    LONG error = subtree.Open(parent.key, name, plat::KEY_READ | plat::KEY_WRITE | parent.ViewBits());
    if (error != ERROR_SUCCESS) return error;
    for (;;) {
        WCHAR child[kSubkeyNameUnits];
        DWORD length = kSubkeyNameUnits;
        if (plat::RegEnumKeyExW(subtree.key, 0, child, &length, nullptr, nullptr, nullptr,
                                nullptr) != ERROR_SUCCESS) {
            break;  // no subkey left, or one whose name does not fit
        }
        error = DeleteKeyTree(subtree, child);
        if (error != ERROR_SUCCESS) return error;  // subtree closes itself
    }
    subtree.Close();
    return RemoveSubkey(parent, name);
}

LONG RemoveSubkey(CKeyHandle& parent, const WCHAR* name) {
    plat::RegDeleteKeyExWFn deleteKeyEx = DeleteKeyExFunction();
    if (deleteKeyEx != nullptr) return deleteKeyEx(parent.key, name, parent.ViewBits(), 0);
    return plat::RegDeleteKeyW(parent.key, name);
}

bool KeyHasSubkeys(plat::HKEY key) {
    DWORD subKeys = 0;
    DWORD maxLength = 0;
    DWORD values = 0;
    if (plat::RegQueryInfoKeyW(key, &subKeys, &maxLength, &values) != ERROR_SUCCESS) return false;
    return subKeys > 0;
}

}  // namespace vz
