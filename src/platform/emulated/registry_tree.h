// The in-memory registry behind the emulated Reg* calls and the .reg text
// import and export. One mutex guards the whole tree, the handle table, the
// fault list and the call log.
#pragma once
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace vz {
namespace emu {
namespace detail {

struct RegValue {
    std::u16string name;  // empty: the default value
    DWORD type = 0;
    std::vector<BYTE> data;
};

struct RegKey {
    std::u16string name;  // as created
    RegKey* parent = nullptr;
    bool deleted = false;
    // Kept sorted by case-folded name, the order RegEnumKeyExW reports.
    std::vector<std::shared_ptr<RegKey>> subkeys;
    std::vector<RegValue> values;  // in creation order

    RegKey* FindSubkey(const std::u16string& name) const;
    std::shared_ptr<RegKey> SharedSubkey(const std::u16string& name) const;
    RegKey* AddSubkey(const std::u16string& name);
    RegValue* FindValue(const std::u16string& name);
    void RemoveSubkey(RegKey* child);
    bool RemoveValue(const std::u16string& name);
};

std::mutex& RegistryMutex();

// The tree of a predefined root, or null for a key that is not one of the
// roots kept here (HKCR, HKCU, HKLM, HKU, HKCC).
std::shared_ptr<RegKey> RootKey(plat::HKEY key);
// "HKEY_LOCAL_MACHINE" and the other root names, short forms included.
std::shared_ptr<RegKey> RootByName(const std::u16string& name);
const char* RootName(const RegKey* root);

// Splits a key path at backslashes; empty components are skipped.
std::vector<std::u16string> SplitPath(const std::u16string& path);
// Walks `path` below `from`; null when a component is missing.
RegKey* Descend(RegKey* from, const std::vector<std::u16string>& path);
// Resolves "HKEY_...\\a\\b" (UTF-8) to a key, or null.
RegKey* FindKeyByPath(const std::string& keyPath);

// Wipes the tree and closes every handle. Caller holds the mutex.
void ClearLocked();
// Marks a key and everything below it deleted and unlinks it from its parent.
void DeleteTreeLocked(RegKey* key);

// Loads the file named by VUDOZID_REGISTRY the first time any registry
// function runs (caller holds the mutex).
void EnsureEnvironmentLoadedLocked();
// Writes the whole tree to the VUDOZID_REGISTRY file, when there is one, so
// that every process (and every copy of this layer in one process) sees each
// change as soon as it is made. Caller holds the mutex.
void WriteBackLocked();
// .reg text import, caller holds the mutex.
bool ImportLocked(const std::string& text, std::string* error);

int CompareFolded(const std::u16string& a, const std::u16string& b);

}  // namespace detail
}  // namespace emu
}  // namespace vz
