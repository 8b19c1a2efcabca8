#include "module/script_tables.h"

namespace vz {

namespace {

constexpr std::uintptr_t kClassesRoot = 0x80000000u;
constexpr std::uintptr_t kCurrentUser = 0x80000001u;
constexpr std::uintptr_t kLocalMachine = 0x80000002u;
constexpr std::uintptr_t kUsers = 0x80000003u;
constexpr std::uintptr_t kPerformanceData = 0x80000004u;
constexpr std::uintptr_t kCurrentConfig = 0x80000005u;
constexpr std::uintptr_t kDynData = 0x80000006u;

struct RootKeyName {
    const WCHAR* name;
    std::uintptr_t key;
};

// Searched in this order; the short forms come first.
constexpr RootKeyName kRootKeys[] = {
    {u"HKCR", kClassesRoot},
    {u"HKCU", kCurrentUser},
    {u"HKLM", kLocalMachine},
    {u"HKU", kUsers},
    {u"HKPD", kPerformanceData},
    {u"HKDD", kDynData},
    {u"HKCC", kCurrentConfig},
    {u"HKEY_CLASSES_ROOT", kClassesRoot},
    {u"HKEY_CURRENT_USER", kCurrentUser},
    {u"HKEY_LOCAL_MACHINE", kLocalMachine},
    {u"HKEY_USERS", kUsers},
    {u"HKEY_PERFORMANCE_DATA", kPerformanceData},
    {u"HKEY_DYN_DATA", kDynData},
    {u"HKEY_CURRENT_CONFIG", kCurrentConfig},
};

struct ValueTypeName {
    const WCHAR* letter;
    DWORD type;
};

constexpr ValueTypeName kValueTypes[] = {
    {u"S", plat::REG_SZ},
    {u"M", plat::REG_MULTI_SZ},
    {u"D", plat::REG_DWORD},
    {u"B", plat::REG_BINARY},
};

constexpr const WCHAR* kProtectedKeys[] = {
    u"AppID",    u"CLSID", u"Component Categories", u"FileType", u"Interface", u"Hardware",
    u"Mime",     u"SAM",   u"SECURITY",             u"SYSTEM",   u"Software",  u"TypeLib",
};

}  // namespace

plat::HKEY RootKeyFromName(const WCHAR* name) {
    for (const RootKeyName& entry : kRootKeys)
        if (plat::lstrcmpiW(name, entry.name) == 0) return plat::PredefinedKey(entry.key);
    return nullptr;
}

bool ValueTypeFromLetter(const WCHAR* token, DWORD* type) {
    for (const ValueTypeName& entry : kValueTypes) {
        if (plat::lstrcmpiW(token, entry.letter) == 0) {
            *type = entry.type;
            return true;
        }
    }
    return false;
}

bool IsProtectedKeyName(const WCHAR* name) {
    for (const WCHAR* protectedName : kProtectedKeys)
        if (plat::lstrcmpiW(name, protectedName) == 0) return true;
    return false;
}

}  // namespace vz
