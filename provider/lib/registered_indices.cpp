// The title indices that registration handed out for an application, read
// back from its performance key so that the published map carries them.
#include "map_description.h"
#include "platform/registry_key.h"

namespace vz {
namespace provider {

namespace {

bool ReadDword(plat::HKEY key, const char16_t* name, DWORD* value) {
    DWORD type = 0;
    DWORD size = sizeof(*value);
    return plat::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value),
                                  &size) == 0 &&
           type == plat::REG_DWORD && size == sizeof(*value);
}

}  // namespace

vzp_status RegisteredIndices(const std::u16string& application, DWORD* firstName,
                             DWORD* firstHelp) {
    const std::u16string path =
        u"SYSTEM\\CurrentControlSet\\Services\\" + application + u"\\Performance";
    CKeyHandle key;
    if (key.Open(plat::HKeyLocalMachine(), path.c_str(), plat::KEY_READ) != 0)
        return VZP_ERROR_NOT_REGISTERED;
    DWORD name = 0, help = 0;
    if (!ReadDword(key.Get(), u"First Counter", &name) || !ReadDword(key.Get(), u"First Help", &help)) return VZP_ERROR_NOT_REGISTERED;
    *firstName = name;
    *firstHelp = help;
    return VZP_OK;
}

}  // namespace provider
}  // namespace vz
