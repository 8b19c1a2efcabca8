// The fixed name tables of the registry-script language. Every comparison is
// case-insensitive (lstrcmpiW).
#pragma once
#include "platform/platform.h"

namespace vz {

// The predefined key named by a root token ("HKCR", "HKEY_LOCAL_MACHINE", ...),
// or null when the name is not in the table.
plat::HKEY RootKeyFromName(const WCHAR* name);
// The registry type of a whole type token ("S", "M", "D", "B"); false when unknown.
bool ValueTypeFromLetter(const WCHAR* token, DWORD* type);
// Keys that ForceRemove and Delete never remove.
bool IsProtectedKeyName(const WCHAR* name);

}  // namespace vz
