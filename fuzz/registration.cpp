// DllRegisterServer and DllUnregisterServer over a hostile registry: perflib's
// "Last Counter" / "Last Help", the language keys' pair lists and the
// performance key's values ("Languages", the index ranges, "Map", ...) hold
// whatever the input says, of any type and size. Each export must return an
// HRESULT without touching memory it does not own, and close every key it
// opened.
// Input: one mode byte, then records [place][type][length: 2 bytes][bytes].
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "module/dll_exports.h"
#include "platform/emulated/emulated_control.h"

namespace {

using namespace vz::plat;

const char16_t kPerflib[] = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib";
const char16_t kEnglish[] = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009";
const char16_t kItalian[] = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\010";
const char16_t kGerman[] = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\007";
const char16_t kPerformance[] =
    u"SYSTEM\\CurrentControlSet\\Services\\Quorvane Server ITA\\Performance";

struct Place {
    const char16_t* key;
    const char16_t* value;
};
const Place kPlaces[] = {
    {kPerflib, u"Last Counter"},    {kPerflib, u"Last Help"},
    {kEnglish, u"Counter"},         {kEnglish, u"Help"},
    {kItalian, u"Counter"},         {kItalian, u"Help"},
    {kGerman, u"Counter"},          {kGerman, u"Help"},
    {kPerformance, u"Languages"},   {kPerformance, u"First Counter"},
    {kPerformance, u"First Help"},  {kPerformance, u"Last Counter"},
    {kPerformance, u"Last Help"},   {kPerformance, u"Map"},
    {kPerformance, u"Library"},     {kPerformance, u"Disable Performance Counters"},
};
const vz::DWORD kTypes[] = {REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ,
                            REG_QWORD};

void Set(const char16_t* keyPath, const char16_t* name, vz::DWORD type, const void* bytes,
         std::size_t size) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKeyLocalMachine(), keyPath, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                        &key, nullptr) != 0)
        return;
    RegSetValueExW(key, name, 0, type, static_cast<const vz::BYTE*>(bytes),
                   static_cast<vz::DWORD>(size));
    RegCloseKey(key);
}

// A perflib key the way a machine has it, before the input spoils it.
void SeedPerflib() {
    const vz::DWORD lastCounter = 1846, lastHelp = 1847;
    Set(kPerflib, u"Last Counter", REG_DWORD, &lastCounter, 4);
    Set(kPerflib, u"Last Help", REG_DWORD, &lastHelp, 4);
    static const char16_t kCounter[] = u"1\0" u"1847\0" u"2\0" u"System\0" u"1846\0" u"Last\0";
    static const char16_t kHelp[] = u"3\0" u"System help\0" u"1847\0" u"Last help\0";
    for (const char16_t* key : {kEnglish, kItalian}) {
        Set(key, u"Counter", REG_MULTI_SZ, kCounter, sizeof kCounter);
        Set(key, u"Help", REG_MULTI_SZ, kHelp, sizeof kHelp);
    }
}

void CheckKeysClosed() {
    if (vz::emu::OpenKeyCount() != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vz::fuzz::Input in(data, size);
    const std::uint8_t mode = in.Byte();
    vz::emu::ResetRegistry();
    vz::emu::ResetCallCounts();  // an ever longer call log would look like a leak
    SeedPerflib();
    while (in.Left() >= 4) {
        const Place& place = kPlaces[in.Byte() % (sizeof kPlaces / sizeof kPlaces[0])];
        const std::uint8_t typeByte = in.Byte();
        const vz::DWORD type = typeByte < 224 ? kTypes[typeByte % 7] : typeByte;
        const std::size_t length = (in.Byte() | (in.Byte() << 8)) % 8192;
        const std::vector<std::uint8_t> bytes = in.Bytes(length);
        Set(place.key, place.value, type, bytes.data(), bytes.size());
    }
    CheckKeysClosed();
    switch (mode % 4) {
        case 0: DllRegisterServer(); break;
        case 1: DllUnregisterServer(); break;
        case 2: DllRegisterServer(); CheckKeysClosed(); DllUnregisterServer(); break;
        default: DllRegisterServer(); CheckKeysClosed(); DllRegisterServer(); break;
    }
    CheckKeysClosed();
    return 0;
}
