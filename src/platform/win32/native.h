// Conversions between the platform interface's types and windows.h's. The
// interface's handles are the native values; only the predefined registry
// roots differ on 64-bit Windows, where windows.h sign-extends them.
#pragma once
#include "platform/platform.h"

#include <windows.h>

namespace vz {
namespace plat {
namespace native {

inline ::HKEY Key(HKEY key) {
    const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(key);
    if (value >= 0x80000000u && value <= 0x80000006u)
        return reinterpret_cast<::HKEY>(static_cast<ULONG_PTR>(static_cast<::LONG>(value)));
    return reinterpret_cast<::HKEY>(key);
}
inline HKEY Key(::HKEY key) { return reinterpret_cast<HKEY>(key); }

inline ::HANDLE Handle(HANDLE handle) { return reinterpret_cast<::HANDLE>(handle); }
inline HANDLE Handle(::HANDLE handle) { return reinterpret_cast<HANDLE>(handle); }
inline ::HMODULE Module(HMODULE module) { return reinterpret_cast<::HMODULE>(module); }
inline HMODULE Module(::HMODULE module) { return reinterpret_cast<HMODULE>(module); }
inline ::HRSRC Resource(HRSRC resource) { return reinterpret_cast<::HRSRC>(resource); }
inline HRSRC Resource(::HRSRC resource) { return reinterpret_cast<HRSRC>(resource); }

inline const wchar_t* Text(const WCHAR* text) { return reinterpret_cast<const wchar_t*>(text); }
inline wchar_t* Text(WCHAR* text) { return reinterpret_cast<wchar_t*>(text); }
inline const WCHAR* Text(const wchar_t* text) { return reinterpret_cast<const WCHAR*>(text); }

static_assert(sizeof(wchar_t) == sizeof(WCHAR), "UTF-16 wchar_t expected");
static_assert(sizeof(::DWORD) == sizeof(DWORD), "32-bit DWORD expected");
static_assert(sizeof(::LONG) == sizeof(LONG), "32-bit LONG expected");

}  // namespace native
}  // namespace plat
}  // namespace vz
