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
#include "common/emulated_machine.h"

namespace {

using namespace vz::plat;

const vz::WString kPerflib(vz::kPerflibKeyPath);
const vz::WString kEnglish = vz::PerflibLanguageKeyPath(u"009", 3);
const vz::WString kItalian = vz::PerflibLanguageKeyPath(u"010", 3);
const vz::WString kGerman = vz::PerflibLanguageKeyPath(u"007", 3);
const vz::WString kPerformance = vz::PerformanceKeyPath(vz::fuzz::kApplication);

struct Place {
    const vz::WString& key;
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

// A perflib key the way a machine has it, before the input spoils it.
void SeedPerflib() {
    const vz::DWORD lastCounter = 1846, lastHelp = 1847;
    vz::fuzz::SetValue(kPerflib.c_str(), u"Last Counter", REG_DWORD, &lastCounter, 4);
    vz::fuzz::SetValue(kPerflib.c_str(), u"Last Help", REG_DWORD, &lastHelp, 4);
    static const char16_t kCounter[] = u"1\0" u"1847\0" u"2\0" u"System\0" u"1846\0" u"Last\0";
    static const char16_t kHelp[] = u"3\0" u"System help\0" u"1847\0" u"Last help\0";
    for (const vz::WCHAR* key : {kEnglish.c_str(), kItalian.c_str()}) {
        vz::fuzz::SetValue(key, u"Counter", REG_MULTI_SZ, kCounter, sizeof kCounter);
        vz::fuzz::SetValue(key, u"Help", REG_MULTI_SZ, kHelp, sizeof kHelp);
    }
}

void CheckKeysClosed() {
    if (vz::test::OpenRegistryKeys() != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vz::fuzz::Input in(data, size);
    const std::uint8_t mode = in.Byte();
    vz::test::ResetMachine();
    SeedPerflib();
    while (in.Left() >= 4) {
        const Place& place = kPlaces[in.Byte() % (sizeof kPlaces / sizeof kPlaces[0])];
        const std::uint8_t typeByte = in.Byte();
        const vz::DWORD type = typeByte < 224 ? kTypes[typeByte % 7] : typeByte;
        const std::size_t length = (in.Byte() | (in.Byte() << 8)) % 8192;
        const std::vector<std::uint8_t> bytes = in.Bytes(length);
        vz::fuzz::SetValue(place.key.c_str(), place.value, type, bytes.data(), bytes.size());
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
