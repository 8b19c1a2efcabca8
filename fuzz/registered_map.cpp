// LoadRegisteredMap on arbitrary "Map" values: type and bytes from the input.
#include <cstdint>

#include "fuzz_support.h"
#include "platform/emulated/emulated_control.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vz::plat;
    if (size < 1) return 0;
    vz::emu::ResetRegistry();
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKeyLocalMachine(),
                        u"SYSTEM\\CurrentControlSet\\Services\\Quorvane Server ITA\\Performance", 0,
                        nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr) != 0)
        return 0;
    const vz::DWORD types[] = {REG_BINARY, REG_BINARY, REG_BINARY, REG_SZ, REG_DWORD, REG_MULTI_SZ};
    RegSetValueExW(key, u"Map", 0, types[data[0] % 6], data + 1, static_cast<vz::DWORD>(size - 1));
    RegCloseKey(key);
    vz::fuzz::BareMonitor monitor;
    static_cast<void>(monitor.LoadRegisteredMap());  // any result, but no fault
    return 0;
}
