// Removing registry keys with the view of the parent's handle: a whole tree,
// or one key without subkeys. The handle itself is platform/registry_key.h.
#pragma once
#include "platform/registry_key.h"
#include "support/hresult.h"

namespace vz {

// Removes the subkey `name` of the parent's key with everything below it.
[[nodiscard]] LONG DeleteKeyTree(CKeyHandle& parent, const WCHAR* name);
// Removes the subkey `name` of the parent's key, which must have no subkeys.
[[nodiscard]] LONG RemoveSubkey(CKeyHandle& parent, const WCHAR* name);

// True when RegQueryInfoKeyW succeeds on `key` and reports at least one subkey.
bool KeyHasSubkeys(plat::HKEY key);

}  // namespace vz
