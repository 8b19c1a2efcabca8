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

struct stat;

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
// Resolves "HKEY_...\\a\\b" (UTF-8) to a key, or null; with `create` the
// keys missing on the way are added.
RegKey* KeyByPath(const std::string& keyPath, bool create);
// The full path of a key that is in the tree ("HKEY_LOCAL_MACHINE\\a\\b"),
// and the owning pointer to it.
std::string KeyPath(const RegKey* key);
std::shared_ptr<RegKey> SharedKey(RegKey* key);

// Wipes the tree and closes every handle. Caller holds the mutex.
void ClearLocked();
// Marks a key and everything below it deleted and unlinks it from its parent.
void DeleteTreeLocked(RegKey* key);

// Registry errors of the shared file (see registry_store.cpp).
constexpr LONG kErrorBadDb = 1009;               // ERROR_BADDB: the file is damaged
constexpr LONG kErrorRegistryIoFailed = 1016;    // ERROR_REGISTRY_IO_FAILED: it cannot be written

// Brings the tree up to the VUDOZID_REGISTRY file when another process (or
// another copy of this layer in this process) has replaced it since it was
// last read; a stat() when nothing changed. Returns kErrorBadDb while the file
// is damaged (the tree is then empty and is never written). Caller holds the
// mutex.
LONG RefreshLocked();
// Takes the advisory lock beside the file for one change, unless this process
// holds the registry already (a transaction). Caller holds the mutex.
LONG LockFileLocked();
void UnlockFileLocked();
// Writes the whole tree to the file atomically (a temporary file beside it,
// fsync, rename), so every process sees each change as soon as it is made.
// On failure the tree is read again from the file at the next call.
LONG CommitLocked();
// After a reload: open handles move to the keys of the same path in the new
// tree; those whose key is gone keep the old one, marked deleted.
void RebindHandlesLocked();
// .reg text import (UTF-8, header optional), caller holds the mutex.
bool ImportLocked(const std::string& text, std::string* error);
// A registry file's bytes into the tree, which the caller has cleared:
// REGEDIT4 or version 5.00, UTF-8 or UTF-16LE with its byte-order mark. The
// error is "line N: what is wrong".
bool ImportFileLocked(const std::string& bytes, std::string* error);
// Replaces `path` with `bytes`: a new file beside it (with `old`'s mode when
// given), synced, then renamed over it. Returns the new file's descriptor
// (the caller closes it), or -1.
int ReplaceFile(const std::string& path, const std::string& bytes, const struct stat* old);
// The whole tree as version 5.00 text, UTF-8.
std::string ExportAllLocked();
int CompareFolded(const std::u16string& a, const std::u16string& b);

}  // namespace detail
}  // namespace emu
}  // namespace vz
