#include "common/perflib_seed.h"

#include "common/emulated_machine.h"
#include "platform/emulated/emulated_control.h"
#include "platform/platform.h"

namespace vz {
namespace test {

namespace {

struct LanguageTexts {
    const char16_t* code;
    std::vector<std::u16string> names;
    std::u16string helpLead;
};

const LanguageTexts kTexts[] = {
    {u"009",
     {u"System", u"Memory", u"% Processor Time", u"Processor", u"Cache", u"Pages/sec",
      u"Disk Reads/sec", u"Network Interface", u"Thread Count", u"Process"},
     u"The counter shows the rate at which the system works through its requests, "
     u"measured over the last sample interval, number "},
    {u"010",
     {u"Sistema", u"Memoria", u"% Tempo processore", u"Processore", u"Cache", u"Pagine/sec",
      u"Letture disco/sec", u"Interfaccia di rete", u"Numero di thread", u"Processo"},
     u"Il contatore indica la velocita con cui il sistema elabora le richieste, misurata "
     u"sull'ultimo intervallo di campionamento, numero "},
};

}  // namespace

void SeedPerflib(const PerflibSeed& seed) {
    ResetMachine();
    WriteDword(kPerflibPath, u"Last Counter", seed.lastCounter);
    WriteDword(kPerflibPath, u"Last Help", seed.lastHelp);
    WriteDword(kPerflibPath, u"Version", 0x00010000);
    const std::u16string services = u"SYSTEM\\CurrentControlSet\\Services";
    static_cast<void>(CKeyHandle().Create(plat::HKeyLocalMachine(), services.c_str()));
    for (const char16_t* code : seed.languageCodes) {
        // Another language takes the English texts.
        const LanguageTexts& texts = std::u16string(code) == kTexts[1].code ? kTexts[1] : kTexts[0];
        PairList names = {{u"1", u"1847"}};
        for (DWORD index = 2; index <= seed.lastCounter; index += 2) {
            const std::u16string& base = texts.names[(index / 2 - 1) % texts.names.size()];
            names.emplace_back(Decimal(index), index / 2 <= texts.names.size()
                                                  ? base
                                                  : base + u" #" + Decimal(index));
        }
        PairList helps;
        for (DWORD index = 3; index <= seed.lastHelp; index += 2)
            helps.emplace_back(Decimal(index), texts.helpLead + Decimal(index) + u".");
        std::u16string key = std::u16string(kPerflibPath) + u"\\" + code;
        WriteMultiString(key, u"Counter", EncodePairs(names));
        WriteMultiString(key, u"Help", EncodePairs(helps));
    }
    emu::ClearFaults();
    emu::ResetCallCounts();
}

}  // namespace test
}  // namespace vz
