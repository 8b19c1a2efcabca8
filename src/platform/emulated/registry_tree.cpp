#include "platform/emulated/registry_tree.h"

#include <algorithm>
#include <cstring>

#include "platform/emulated/case_fold.h"
#include "support/wide_string.h"

namespace vz {
namespace emu {
namespace detail {

int CompareFolded(const std::u16string& a, const std::u16string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t x = FoldCase(a[i]), y = FoldCase(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

namespace {

std::vector<std::shared_ptr<RegKey>>::const_iterator LowerBound(
    const std::vector<std::shared_ptr<RegKey>>& keys, const std::u16string& name) {
    return std::lower_bound(keys.begin(), keys.end(), name,
                            [](const std::shared_ptr<RegKey>& key, const std::u16string& n) {
                                return CompareFolded(key->name, n) < 0;
                            });
}

struct Root {
    std::uintptr_t value;
    const char* name;
    const char* shortName;
    std::shared_ptr<RegKey> key;
};

Root* Roots() {
    static Root roots[] = {
        {0x80000000u, "HKEY_CLASSES_ROOT", "HKCR", nullptr},
        {0x80000001u, "HKEY_CURRENT_USER", "HKCU", nullptr},
        {0x80000002u, "HKEY_LOCAL_MACHINE", "HKLM", nullptr},
        {0x80000003u, "HKEY_USERS", "HKU", nullptr},
        {0x80000005u, "HKEY_CURRENT_CONFIG", "HKCC", nullptr},
    };
    return roots;
}
constexpr std::size_t kRootCount = 5;

std::shared_ptr<RegKey>& RootSlot(Root& root) {
    if (!root.key) {
        root.key = std::make_shared<RegKey>();
        root.key->name = Utf8ToUtf16(root.name);
    }
    return root.key;
}

}  // namespace

RegKey* RegKey::FindSubkey(const std::u16string& n) const {
    auto it = LowerBound(subkeys, n);
    return it != subkeys.end() && CompareFolded((*it)->name, n) == 0 ? it->get() : nullptr;
}

std::shared_ptr<RegKey> RegKey::SharedSubkey(const std::u16string& n) const {
    auto it = LowerBound(subkeys, n);
    return it != subkeys.end() && CompareFolded((*it)->name, n) == 0 ? *it : nullptr;
}

RegKey* RegKey::AddSubkey(const std::u16string& n) {
    auto key = std::make_shared<RegKey>();
    key->name = n;
    key->parent = this;
    auto at = subkeys.begin() + (LowerBound(subkeys, n) - subkeys.begin());
    return subkeys.insert(at, std::move(key))->get();
}

RegValue* RegKey::FindValue(const std::u16string& n) {
    for (RegValue& value : values)
        if (CompareFolded(value.name, n) == 0) return &value;
    return nullptr;
}

void RegKey::RemoveSubkey(RegKey* child) {
    subkeys.erase(std::remove_if(subkeys.begin(), subkeys.end(),
                                 [child](const std::shared_ptr<RegKey>& k) { return k.get() == child; }),
                  subkeys.end());
}

bool RegKey::RemoveValue(const std::u16string& n) {
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (CompareFolded(it->name, n) == 0) {
            values.erase(it);
            return true;
        }
    }
    return false;
}

std::mutex& RegistryMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<RegKey> RootKey(plat::HKEY key) {
    const auto value = reinterpret_cast<std::uintptr_t>(key);
    for (std::size_t i = 0; i < kRootCount; ++i)
        if (Roots()[i].value == value) return RootSlot(Roots()[i]);
    return nullptr;
}

std::shared_ptr<RegKey> RootByName(const std::u16string& name) {
    for (std::size_t i = 0; i < kRootCount; ++i) {
        Root& root = Roots()[i];
        if (CompareFolded(name, Utf8ToUtf16(root.name)) == 0 ||
            CompareFolded(name, Utf8ToUtf16(root.shortName)) == 0)
            return RootSlot(root);
    }
    return nullptr;
}

const char* RootName(const RegKey* root) {
    for (std::size_t i = 0; i < kRootCount; ++i)
        if (Roots()[i].key.get() == root) return Roots()[i].name;
    return "";
}

std::vector<std::u16string> SplitPath(const std::u16string& path) {
    std::vector<std::u16string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(u'\\', start);
        if (end == std::u16string::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

RegKey* Descend(RegKey* from, const std::vector<std::u16string>& path) {
    RegKey* key = from;
    for (const std::u16string& part : path) {
        if (key == nullptr) return nullptr;
        key = key->FindSubkey(part);
    }
    return key;
}

RegKey* KeyByPath(const std::string& keyPath, bool create) {
    const std::vector<std::u16string> parts = SplitPath(Utf8ToUtf16(keyPath));
    if (parts.empty()) return nullptr;
    RegKey* key = RootByName(parts.front()).get();  // roots live as long as the registry
    for (std::size_t i = 1; key != nullptr && i < parts.size(); ++i) {
        RegKey* next = key->FindSubkey(parts[i]);
        key = next != nullptr || !create ? next : key->AddSubkey(parts[i]);
    }
    return key;
}

std::string KeyPath(const RegKey* key) {
    std::string path;
    for (; key->parent != nullptr; key = key->parent) path = "\\" + Utf16ToUtf8(key->name) + path;
    return RootName(key) + path;
}

std::shared_ptr<RegKey> SharedKey(RegKey* key) {
    return key->parent != nullptr ? key->parent->SharedSubkey(key->name) : RootByName(key->name);
}

namespace {

// Handles may keep deleted keys alive; they only ever look at `deleted`.
void MarkDeleted(RegKey* key) {
    for (const auto& child : key->subkeys) {
        MarkDeleted(child.get());
        child->parent = nullptr;
    }
    key->subkeys.clear();
    key->values.clear();
    key->deleted = true;
}

}  // namespace

void DeleteTreeLocked(RegKey* key) {
    RegKey* parent = key->parent;
    key->parent = nullptr;
    MarkDeleted(key);
    if (parent != nullptr) parent->RemoveSubkey(key);  // may free `key`
}

void ClearLocked() {
    for (std::size_t i = 0; i < kRootCount; ++i) {
        Root& root = Roots()[i];
        if (!root.key) continue;
        // Handles still referring to old keys see them as deleted.
        for (const auto& child : root.key->subkeys) {
            MarkDeleted(child.get());
            child->parent = nullptr;
        }
        root.key->subkeys.clear();
        root.key->values.clear();
    }
}

}  // namespace detail
}  // namespace emu
}  // namespace vz
