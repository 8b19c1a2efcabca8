// The Reg* calls over the in-memory tree, with the access checks and error
// codes of the real registry for the cases the library meets.
#include <cstring>
#include <map>

#include "platform/emulated/emulated_control.h"
#include "platform/emulated/fault_injection.h"
#include "platform/emulated/registry_tree.h"
#include "support/hresult.h"

namespace vz {
namespace plat {

using emu::detail::RegKey;
using emu::detail::RegValue;

namespace {

constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxValueNameLength = 16383;

struct OpenKey {
    std::shared_ptr<RegKey> key;
    REGSAM access;
    std::string path;  // where it was opened, to find it again after a reload
};

struct HandleTable {
    std::map<std::uintptr_t, OpenKey> open;
    std::uintptr_t next = 0x1000;
    // Calls since the last reset, and the names of the first kCallLogLimit
    // of them: the tests read short logs, and a tool that runs for months
    // must not keep one name per call.
    std::size_t calls = 0;
    std::vector<const char*> log;
};

constexpr std::size_t kCallLogLimit = 4096;

HandleTable& Table() {
    static HandleTable table;
    return table;
}

REGSAM EffectiveAccess(REGSAM sam) {
    REGSAM access = sam & ~KEY_WOW64_RES;
    if (access & 0x80000000u) access |= KEY_READ;        // GENERIC_READ
    if (access & 0x40000000u) access |= KEY_WRITE;       // GENERIC_WRITE
    if (access & 0x20000000u) access |= KEY_READ;        // GENERIC_EXECUTE
    if (access & 0x12000000u) access |= KEY_ALL_ACCESS;  // GENERIC_ALL, MAXIMUM_ALLOWED
    return access;
}

std::u16string Text(const WCHAR* text) { return text != nullptr ? std::u16string(text) : std::u16string(); }

enum class Touches { Nothing, Reads, Writes };

// Every registry call starts here: call log, planned fault, then the shared
// file: a call that may change the tree takes the file's lock, and every call
// but closing a key first brings the tree up to the file.
class Call {
public:
    explicit Call(const char* function, Touches touches = Touches::Reads)
        : lock_(emu::detail::RegistryMutex()) {
        HandleTable& table = Table();
        if (table.calls++ < kCallLogLimit) table.log.push_back(function);
        if (emu::detail::TakeFault(function, true, &error_)) return;
        if (touches == Touches::Writes) {
            error_ = emu::detail::LockFileLocked();
            locked_ = error_ == ERROR_SUCCESS;
        }
        if (error_ == ERROR_SUCCESS && touches != Touches::Nothing) error_ = emu::detail::RefreshLocked();
    }
    ~Call() {
        if (locked_) emu::detail::UnlockFileLocked();
    }
    bool Faulted() const { return error_ != ERROR_SUCCESS; }
    LONG Error() const { return error_; }
    // A successful change is written to the file before the call returns.
    LONG Changed(LONG error) { return error == ERROR_SUCCESS ? emu::detail::CommitLocked() : error; }

private:
    std::lock_guard<std::mutex> lock_;
    bool locked_ = false;
    LONG error_ = 0;
};

LONG Resolve(HKEY handle, OpenKey* out) {
    if (std::shared_ptr<RegKey> root = emu::detail::RootKey(handle)) {
        *out = {root, KEY_ALL_ACCESS, {}};
        return ERROR_SUCCESS;
    }
    auto it = Table().open.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == Table().open.end()) return ERROR_INVALID_HANDLE;
    if (it->second.key->deleted) return ERROR_KEY_DELETED;
    *out = it->second;
    return ERROR_SUCCESS;
}

HKEY NewHandle(std::shared_ptr<RegKey> key, REGSAM access) {
    HandleTable& table = Table();
    const std::uintptr_t value = table.next;
    table.next += 4;
    std::string path = emu::detail::KeyPath(key.get());
    table.open[value] = {std::move(key), access, std::move(path)};
    return reinterpret_cast<HKEY>(value);
}

// Relative key path checks shared by open, create and delete.
LONG ParsePath(const WCHAR* subKey, std::vector<std::u16string>* parts) {
    const std::u16string path = Text(subKey);
    if (!path.empty() && path[0] == u'\\') return ERROR_BAD_PATHNAME;
    *parts = emu::detail::SplitPath(path);
    for (const std::u16string& part : *parts)
        if (part.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
    return ERROR_SUCCESS;
}

// The open key a call starts from and the parts of its sub-key path.
LONG ResolvePath(HKEY key, const WCHAR* subKey, OpenKey* base,
                 std::vector<std::u16string>* parts) {
    if (LONG e = Resolve(key, base)) return e;
    return ParsePath(subKey, parts);
}

// The existing key that `subKey` names below `key`, and the open key it starts from.
LONG FindExisting(HKEY key, const WCHAR* subKey, OpenKey* base, RegKey** target) {
    std::vector<std::u16string> parts;
    if (LONG e = ResolvePath(key, subKey, base, &parts)) return e;
    *target = emu::detail::Descend(base->key.get(), parts);
    return *target == nullptr ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

std::shared_ptr<RegKey> Shared(const OpenKey& base, RegKey* key) {
    if (key == base.key.get()) return base.key;
    return emu::detail::SharedKey(key);
}

LONG DeleteKey(HKEY key, const WCHAR* subKey) {
    if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
    OpenKey base;
    RegKey* target = nullptr;
    if (LONG e = FindExisting(key, subKey, &base, &target)) return e;
    if (target->parent == nullptr) return ERROR_ACCESS_DENIED;  // a predefined root
    if (!target->subkeys.empty()) return ERROR_ACCESS_DENIED;
    emu::detail::DeleteTreeLocked(target);
    return ERROR_SUCCESS;
}

LONG RegDeleteKeyExWImpl(HKEY key, const WCHAR* subKey, REGSAM, DWORD reserved) {
    Call call("RegDeleteKeyExW", Touches::Writes);
    if (call.Faulted()) return call.Error();
    if (reserved != 0) return ERROR_INVALID_PARAMETER;
    return call.Changed(DeleteKey(key, subKey));
}

}  // namespace

LONG RegOpenKeyExW(HKEY key, const WCHAR* subKey, DWORD, REGSAM sam, HKEY* result) {
    Call call("RegOpenKeyExW");
    if (call.Faulted()) return call.Error();
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    OpenKey base;
    RegKey* target = nullptr;
    if (LONG e = FindExisting(key, subKey, &base, &target)) return e;
    *result = NewHandle(Shared(base, target), EffectiveAccess(sam));
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExW(HKEY key, const WCHAR* subKey, DWORD reserved, const WCHAR*, DWORD,
                     REGSAM sam, const void*, HKEY* result, DWORD* disposition) {
    Call call("RegCreateKeyExW", Touches::Writes);
    if (call.Faulted()) return call.Error();
    if (result == nullptr || reserved != 0) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    OpenKey base;
    std::vector<std::u16string> parts;
    if (LONG e = ResolvePath(key, subKey, &base, &parts)) return e;
    RegKey* at = base.key.get();
    std::size_t existing = 0;
    while (existing < parts.size()) {
        RegKey* next = at->FindSubkey(parts[existing]);
        if (next == nullptr) break;
        at = next;
        ++existing;
    }
    const bool creates = existing < parts.size();
    if (creates && (base.access & KEY_CREATE_SUB_KEY) == 0) return ERROR_ACCESS_DENIED;
    for (std::size_t i = existing; i < parts.size(); ++i) at = at->AddSubkey(parts[i]);
    if (creates)
        if (LONG e = call.Changed(ERROR_SUCCESS)) return e;
    *result = NewHandle(Shared(base, at), EffectiveAccess(sam));
    if (disposition != nullptr) *disposition = creates ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY key, const WCHAR* name, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize) {
    Call call("RegQueryValueExW");
    if (call.Faulted()) return call.Error();
    if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) return ERROR_INVALID_PARAMETER;
    OpenKey base;
    if (LONG e = Resolve(key, &base)) return e;
    if ((base.access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
    RegValue* value = base.key->FindValue(Text(name));
    if (value == nullptr) return ERROR_FILE_NOT_FOUND;
    const DWORD size = static_cast<DWORD>(value->data.size());
    if (type != nullptr) *type = value->type;
    if (dataSize == nullptr) return ERROR_SUCCESS;
    if (data != nullptr && *dataSize < size) {
        *dataSize = size;
        return ERROR_MORE_DATA;
    }
    if (data != nullptr && size != 0) std::memcpy(data, value->data.data(), size);
    *dataSize = size;
    return ERROR_SUCCESS;
}

LONG RegSetValueExW(HKEY key, const WCHAR* name, DWORD, DWORD type, const BYTE* data,
                    DWORD dataSize) {
    Call call("RegSetValueExW", Touches::Writes);
    if (call.Faulted()) return call.Error();
    OpenKey base;
    if (LONG e = Resolve(key, &base)) return e;
    if ((base.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
    const std::u16string valueName = Text(name);
    if (valueName.size() > kMaxValueNameLength) return ERROR_INVALID_PARAMETER;
    if (data == nullptr && dataSize != 0) return ERROR_NOACCESS;
    RegValue* value = base.key->FindValue(valueName);
    if (value == nullptr) {
        base.key->values.push_back(RegValue{valueName, 0, {}});
        value = &base.key->values.back();
    }
    value->type = type;
    value->data.assign(data, data + dataSize);
    return call.Changed(ERROR_SUCCESS);
}

LONG RegDeleteValueW(HKEY key, const WCHAR* name) {
    Call call("RegDeleteValueW", Touches::Writes);
    if (call.Faulted()) return call.Error();
    OpenKey base;
    if (LONG e = Resolve(key, &base)) return e;
    if ((base.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
    return call.Changed(base.key->RemoveValue(Text(name)) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
}

LONG RegDeleteKeyW(HKEY key, const WCHAR* subKey) {
    Call call("RegDeleteKeyW", Touches::Writes);
    if (call.Faulted()) return call.Error();
    return call.Changed(DeleteKey(key, subKey));
}

LONG RegEnumKeyExW(HKEY key, DWORD index, WCHAR* name, DWORD* nameLength, DWORD* reserved,
                   WCHAR* className, DWORD* classLength, void* lastWriteTime) {
    Call call("RegEnumKeyExW");
    if (call.Faulted()) return call.Error();
    if (name == nullptr || nameLength == nullptr || reserved != nullptr) return ERROR_INVALID_PARAMETER;
    OpenKey base;
    if (LONG e = Resolve(key, &base)) return e;
    if ((base.access & KEY_ENUMERATE_SUB_KEYS) == 0) return ERROR_ACCESS_DENIED;
    if (index >= base.key->subkeys.size()) return ERROR_NO_MORE_ITEMS;
    const std::u16string& subName = base.key->subkeys[index]->name;
    if (subName.size() + 1 > *nameLength) return ERROR_MORE_DATA;
    std::memcpy(name, subName.data(), subName.size() * sizeof(WCHAR));
    name[subName.size()] = 0;
    *nameLength = static_cast<DWORD>(subName.size());
    if (classLength != nullptr) {
        if (className != nullptr && *classLength > 0) className[0] = 0;
        *classLength = 0;
    }
    if (lastWriteTime != nullptr) std::memset(lastWriteTime, 0, 8);
    return ERROR_SUCCESS;
}

LONG RegQueryInfoKeyW(HKEY key, DWORD* subKeys, DWORD* maxSubKeyLength, DWORD* values) {
    Call call("RegQueryInfoKeyW");
    if (call.Faulted()) return call.Error();
    OpenKey base;
    if (LONG e = Resolve(key, &base)) return e;
    if ((base.access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
    std::size_t longest = 0;
    for (const auto& sub : base.key->subkeys) longest = std::max(longest, sub->name.size());
    if (subKeys != nullptr) *subKeys = static_cast<DWORD>(base.key->subkeys.size());
    if (maxSubKeyLength != nullptr) *maxSubKeyLength = static_cast<DWORD>(longest);
    if (values != nullptr) *values = static_cast<DWORD>(base.key->values.size());
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    Call call("RegCloseKey", Touches::Nothing);
    if (call.Faulted()) return call.Error();
    if (emu::detail::RootKey(key)) return ERROR_SUCCESS;
    return Table().open.erase(reinterpret_cast<std::uintptr_t>(key)) != 0 ? ERROR_SUCCESS
                                                                         : ERROR_INVALID_HANDLE;
}

RegDeleteKeyExWFn LookUpRegDeleteKeyExW() { return &RegDeleteKeyExWImpl; }

}  // namespace plat

namespace emu {
namespace detail {

void RebindHandlesLocked() {
    for (auto& entry : plat::Table().open) {
        plat::OpenKey& open = entry.second;
        if (RegKey* key = KeyByPath(open.path, false)) open.key = SharedKey(key);
    }
}

}  // namespace detail
}  // namespace emu

namespace emu {

void ResetRegistry() {
    std::lock_guard<std::mutex> lock(detail::RegistryMutex());
    detail::RefreshLocked();  // the reset stands until the file changes
    detail::ClearLocked();
    plat::Table().open.clear();
}

bool KeyExists(const std::string& keyPath) {
    std::lock_guard<std::mutex> lock(detail::RegistryMutex());
    detail::RefreshLocked();
    return detail::KeyByPath(keyPath, false) != nullptr;
}

std::size_t RegistryCallCount() {
    std::lock_guard<std::mutex> lock(detail::RegistryMutex());
    return plat::Table().calls;
}

std::string RegistryCallLog() {
    std::lock_guard<std::mutex> lock(detail::RegistryMutex());
    std::string text;
    for (const char* call : plat::Table().log) text += std::string(call) + "\n";
    return text;
}

void ResetCallCounts() {
    std::lock_guard<std::mutex> lock(detail::RegistryMutex());
    plat::Table().calls = 0;
    plat::Table().log.clear();
}

std::size_t OpenKeyCount() {
    std::lock_guard<std::mutex> lock(detail::RegistryMutex());
    return plat::Table().open.size();
}

}  // namespace emu
}  // namespace vz
