// An owned registry key handle, with the registry-view bits of the access mask
// it was last opened or created with. It can also wrap a parent key for one
// operation without owning it (Attach/Detach).
#pragma once
#include "platform/platform.h"
#include "support/hresult.h"

namespace vz {

class CKeyHandle {
public:
    CKeyHandle() noexcept;
    ~CKeyHandle();
    CKeyHandle(const CKeyHandle&) = delete;
    CKeyHandle& operator=(const CKeyHandle&) = delete;

    // Both keep the previously held key until the new one was obtained, and
    // return the Win32 error code.
    [[nodiscard]] LONG Open(plat::HKEY parent, const WCHAR* name,
              plat::REGSAM sam = plat::KEY_READ | plat::KEY_WRITE);
    [[nodiscard]] LONG Create(plat::HKEY parent, const WCHAR* name,
                plat::REGSAM sam = plat::KEY_READ | plat::KEY_WRITE);
    // RegCloseKey when a key is held; ERROR_SUCCESS otherwise.
    LONG Close();  // cleanup: callers may ignore a failed close

    // Wraps a key that someone else owns; Detach gives it back unclosed.
    void Attach(plat::HKEY borrowed) noexcept;
    plat::HKEY Detach() noexcept;

    // Removes the subkey `name` of the held key with everything below it.
    [[nodiscard]] LONG DeleteTree(const WCHAR* name);
    // Removes the subkey `name` of the held key, which must have no subkeys.
    [[nodiscard]] LONG RemoveSubkey(const WCHAR* name);

    plat::HKEY key;

private:
    plat::REGSAM viewBits_;  // KEY_WOW64_64KEY | KEY_WOW64_32KEY part of the last access
};

// True when RegQueryInfoKeyW succeeds on `key` and reports at least one subkey.
bool KeyHasSubkeys(plat::HKEY key);

}  // namespace vz
