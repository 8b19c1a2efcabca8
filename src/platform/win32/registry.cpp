// The registry calls over Advapi32.
#include "platform/win32/native.h"

namespace vz {
namespace plat {

using native::Key;
using native::Text;

LONG RegOpenKeyExW(HKEY key, const WCHAR* subKey, DWORD options, REGSAM sam, HKEY* result) {
    ::HKEY opened = nullptr;
    LONG error = ::RegOpenKeyExW(Key(key), Text(subKey), options, sam, &opened);
    *result = error == ERROR_SUCCESS ? Key(opened) : nullptr;
    return error;
}

LONG RegCreateKeyExW(HKEY key, const WCHAR* subKey, DWORD reserved, const WCHAR* className,
                     DWORD options, REGSAM sam, const void* security, HKEY* result,
                     DWORD* disposition) {
    ::HKEY created = nullptr;
    ::DWORD how = 0;
    LONG error = ::RegCreateKeyExW(
        Key(key), Text(subKey), reserved, const_cast<wchar_t*>(Text(className)), options, sam,
        static_cast<LPSECURITY_ATTRIBUTES>(const_cast<void*>(security)), &created, &how);
    *result = error == ERROR_SUCCESS ? Key(created) : nullptr;
    if (disposition != nullptr && error == ERROR_SUCCESS) *disposition = how;
    return error;
}

LONG RegQueryValueExW(HKEY key, const WCHAR* name, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize) {
    return ::RegQueryValueExW(Key(key), Text(name), reinterpret_cast<::DWORD*>(reserved),
                              reinterpret_cast<::DWORD*>(type), data,
                              reinterpret_cast<::DWORD*>(dataSize));
}

LONG RegSetValueExW(HKEY key, const WCHAR* name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize) {
    return ::RegSetValueExW(Key(key), Text(name), reserved, type, data, dataSize);
}

LONG RegDeleteValueW(HKEY key, const WCHAR* name) { return ::RegDeleteValueW(Key(key), Text(name)); }

LONG RegDeleteKeyW(HKEY key, const WCHAR* subKey) { return ::RegDeleteKeyW(Key(key), Text(subKey)); }

LONG RegEnumKeyExW(HKEY key, DWORD index, WCHAR* name, DWORD* nameLength, DWORD* reserved,
                   WCHAR* className, DWORD* classLength, void* lastWriteTime) {
    return ::RegEnumKeyExW(Key(key), index, Text(name), reinterpret_cast<::DWORD*>(nameLength),
                           reinterpret_cast<::DWORD*>(reserved), Text(className),
                           reinterpret_cast<::DWORD*>(classLength),
                           static_cast<FILETIME*>(lastWriteTime));
}

LONG RegQueryInfoKeyW(HKEY key, DWORD* subKeys, DWORD* maxSubKeyLength, DWORD* values) {
    return ::RegQueryInfoKeyW(Key(key), nullptr, nullptr, nullptr,
                              reinterpret_cast<::DWORD*>(subKeys),
                              reinterpret_cast<::DWORD*>(maxSubKeyLength), nullptr,
                              reinterpret_cast<::DWORD*>(values), nullptr, nullptr, nullptr,
                              nullptr);
}

LONG RegCloseKey(HKEY key) { return ::RegCloseKey(Key(key)); }

namespace {

using NativeDeleteKeyEx = ::LONG(WINAPI*)(::HKEY, LPCWSTR, REGSAM, ::DWORD);
NativeDeleteKeyEx g_nativeDeleteKeyEx = nullptr;

LONG DeleteKeyExThunk(HKEY key, const WCHAR* subKey, REGSAM sam, DWORD reserved) {
    return g_nativeDeleteKeyEx(Key(key), Text(subKey), sam, reserved);
}

}  // namespace

// Windows XP's Advapi32 has no RegDeleteKeyExW; the caller then falls back to
// RegDeleteKeyW.
RegDeleteKeyExWFn LookUpRegDeleteKeyExW() {
    ::HMODULE advapi = ::GetModuleHandleW(L"Advapi32.dll");
    if (advapi == nullptr) return nullptr;
    auto found = reinterpret_cast<NativeDeleteKeyEx>(
        reinterpret_cast<void*>(::GetProcAddress(advapi, "RegDeleteKeyExW")));
    if (found == nullptr) return nullptr;
    g_nativeDeleteKeyEx = found;
    return &DeleteKeyExThunk;
}

}  // namespace plat
}  // namespace vz
