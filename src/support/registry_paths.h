// The registry places of the counter registration, below HKEY_LOCAL_MACHINE:
// the service's performance key and perflib's keys. Registration, collection,
// the provider and the tools all build the paths here.
#pragma once
#include <cstddef>

#include "support/types.h"
#include "support/wide_string.h"

namespace vz {

extern const WCHAR kPerflibKeyPath[];  // "SOFTWARE\Microsoft\Windows NT\CurrentVersion\Perflib"

// "SYSTEM\CurrentControlSet\Services\<name>" and its "Performance" subkey.
WString ServiceKeyPath(const WCHAR* applicationName);
WString PerformanceKeyPath(const WCHAR* applicationName);
// The perflib key's path, a backslash and the language code as given ("009").
WString PerflibLanguageKeyPath(const WCHAR* code, std::size_t codeLength);

}  // namespace vz
