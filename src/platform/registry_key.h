// The one owned registry key of the project (library, provider SDK and tools):
// closed when its holder goes away, with the registry-view bits of the access
// mask it was last opened or created with. It can also wrap a parent key for
// one operation without owning it (Attach/Detach). Header-only over the
// platform interface, so that every part that links the platform can use it.
#pragma once
#include "platform/platform.h"

namespace vz {

class CKeyHandle {
public:
    CKeyHandle() noexcept = default;
    ~CKeyHandle() { static_cast<void>(Close()); }
    CKeyHandle(const CKeyHandle&) = delete;
    CKeyHandle& operator=(const CKeyHandle&) = delete;

    // Both keep the previously held key until the new one was obtained, and
    // return the Win32 error code.
    [[nodiscard]] LONG Open(plat::HKEY parent, const WCHAR* name,
                            plat::REGSAM sam = plat::KEY_READ | plat::KEY_WRITE) {
        plat::HKEY opened = nullptr;
        const LONG error = plat::RegOpenKeyExW(parent, name, 0, sam, &opened);
        if (error != 0) return error;
        Hold(opened, sam);
        return 0;
    }
    // A non-volatile key without class.
    [[nodiscard]] LONG Create(plat::HKEY parent, const WCHAR* name,
                              plat::REGSAM sam = plat::KEY_READ | plat::KEY_WRITE) {
        plat::HKEY created = nullptr;
        DWORD disposition = 0;
        const LONG error = plat::RegCreateKeyExW(parent, name, 0, nullptr,
                                                 plat::REG_OPTION_NON_VOLATILE, sam, nullptr,
                                                 &created, &disposition);
        if (error != 0) return error;
        Hold(created, sam);
        return 0;
    }
    // RegCloseKey when a key is held; 0 otherwise. Cleanup: callers may ignore
    // a failed close.
    LONG Close() noexcept {
        LONG error = 0;
        if (key != nullptr) {
            error = plat::RegCloseKey(key);
            key = nullptr;
            viewBits_ = 0;
        }
        return error;
    }

    // Wraps a key that someone else owns; Detach gives it back unclosed.
    void Attach(plat::HKEY borrowed) noexcept {
        key = borrowed;
        viewBits_ = 0;
    }
    plat::HKEY Detach() noexcept {
        plat::HKEY borrowed = key;
        key = nullptr;
        viewBits_ = 0;
        return borrowed;
    }

    plat::HKEY Get() const noexcept { return key; }
    bool IsOpen() const noexcept { return key != nullptr; }
    // KEY_WOW64_64KEY | KEY_WOW64_32KEY part of the last access.
    plat::REGSAM ViewBits() const noexcept { return viewBits_; }

    plat::HKEY key = nullptr;

private:
    void Hold(plat::HKEY held, plat::REGSAM sam) noexcept {
        static_cast<void>(Close());
        key = held;
        viewBits_ = sam & plat::KEY_WOW64_RES;
    }

    plat::REGSAM viewBits_ = 0;
};

}  // namespace vz
