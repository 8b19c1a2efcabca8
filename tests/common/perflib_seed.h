// Seeds the emulated registry like a real machine's perflib, and reads and
// writes values under HKEY_LOCAL_MACHINE for the tests' set-up and assertions.
#pragma once
#include <string>
#include <vector>

#include "common/layout_builder.h"
#include "platform/platform.h"
#include "platform/registry_key.h"

namespace vz {
namespace test {

// Below HKEY_LOCAL_MACHINE: perflib's key, the server statistics service and its object's key.
inline constexpr char16_t kPerflibPath[] = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib";
inline constexpr char16_t kServicePath[] = u"SYSTEM\\CurrentControlSet\\Services\\Quorvane Server ITA";
inline constexpr char16_t kPerformancePath[] =
    u"SYSTEM\\CurrentControlSet\\Services\\Quorvane Server ITA\\Performance";
inline constexpr char kHklmExportPath[] = "HKEY_LOCAL_MACHINE";  // for ExportRegText

struct PerflibSeed {
    DWORD lastCounter = 700;
    DWORD lastHelp = 701;
    std::vector<const char16_t*> languageCodes = {u"009", u"010"};
};

// Resets the emulated machine and seeds its registry: "Last Counter", "Last Help" and per
// language "Counter" ("1" "1847", then a name for every even index 2..lastCounter)
// and "Help" (a text for every odd index 3..lastHelp). Call counts and faults reset.
void SeedPerflib(const PerflibSeed& seed = {});

// Values below HKEY_LOCAL_MACHINE; the key is created when missing.
inline void WriteValue(const std::u16string& key, const std::u16string& name, DWORD type,
                       const void* data, std::size_t bytes) {
    CKeyHandle handle;
    static_cast<void>(handle.Create(plat::HKeyLocalMachine(), key.c_str()));
    plat::RegSetValueExW(handle.key, name.c_str(), 0, type, static_cast<const BYTE*>(data),
                         static_cast<DWORD>(bytes));
}
inline void WriteMultiString(const std::u16string& key, const std::u16string& name,
                             const std::u16string& raw) {
    WriteValue(key, name, plat::REG_MULTI_SZ, raw.data(), raw.size() * sizeof(char16_t));
}
inline void WriteDword(const std::u16string& key, const std::u16string& name, DWORD value) {
    WriteValue(key, name, plat::REG_DWORD, &value, sizeof value);
}
// False when the key or value is missing.
inline bool ReadValue(const std::u16string& key, const std::u16string& name, DWORD* type,
                      std::vector<BYTE>* data) {
    CKeyHandle handle;
    if (handle.Open(plat::HKeyLocalMachine(), key.c_str(), plat::KEY_READ) != 0) return false;
    DWORD size = 0;
    LONG error = plat::RegQueryValueExW(handle.key, name.c_str(), nullptr, type, nullptr, &size);
    if (error == 0) {
        data->assign(size, 0);
        error = plat::RegQueryValueExW(handle.key, name.c_str(), nullptr, type, data->data(), &size);
        data->resize(size);
    }
    return error == 0;
}
// The value's characters (REG_SZ or REG_MULTI_SZ), or "<missing>".
inline std::u16string ReadChars(const std::u16string& key, const std::u16string& name) {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!ReadValue(key, name, &type, &data)) return u"<missing>";
    return std::u16string(reinterpret_cast<const char16_t*>(data.data()), data.size() / 2);
}
// 0xDEADBEEF when missing or not four bytes.
inline DWORD ReadDword(const std::u16string& key, const std::u16string& name) {
    DWORD type = 0;
    std::vector<BYTE> data;
    return ReadValue(key, name, &type, &data) && data.size() == 4 ? Get<DWORD>(data.data()) : 0xDEADBEEFu;
}

}  // namespace test
}  // namespace vz
