// qvreg: a small regsvr32. Loads a library by path and calls its
// DllRegisterServer, or DllUnregisterServer with /u. With --seed it first gives
// an empty registry a perflib key like a real machine's. On Linux the emulated
// registry is kept in the file named by VUDOZID_REGISTRY, else in the default
// file qvsim and qvperf also read; --where prints which. A registration or
// unregistration holds the registry file for its whole run, so two qvreg runs
// on one file happen one after the other; a damaged file is refused, untouched.
//
//   qvreg [--seed] [/u] [path]
//   qvreg --where
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "objectmap/perfmon.h"
#include "platform/registry_key.h"
#include "support/compiler.h"
#include "support/hresult.h"
#include "support/registry_paths.h"
#include "support/wide_string.h"
#include "tool_arguments.h"
#include "vudozid_version.h"

namespace {

namespace plat = vz::plat;
using vz::DWORD;

using RegistrationFn = vz::HRESULT(VZ_STDCALL*)();

bool SetDword(plat::HKEY key, const char16_t* name, DWORD value) {
    return plat::RegSetValueExW(key, name, 0, plat::REG_DWORD,
                                reinterpret_cast<const vz::BYTE*>(&value), sizeof value) == 0;
}

// The titles of a freshly installed machine, in English (009) and Italian
// (010): index 1 holds the last index in use, even indices name counters and
// objects, odd ones from 3 are their help texts.
struct SeedTitle {
    int index;
    const char* english;
    const char* italian;
};
const SeedTitle kSeedTitles[] = {
    {1, "1847", "1847"},
    {2, "System", "Sistema"},
    {3, "Counters of the whole computer.", "Contatori di tutto il computer."},
    {4, "Memory", "Memoria"},
    {5, "Counters of physical and virtual memory.", "Contatori della memoria fisica e virtuale."},
    {6, "% Processor Time", "% Tempo processore"},
    {7, "Share of time spent on non-idle threads.", "Quota di tempo sui thread non inattivi."},
    {238, "Processor", "Processore"},
    {239, "Counters of processor activity.", "Contatori dell'attività del processore."},
    {1846, "Last Counter Placeholder", "Segnaposto ultimo contatore"},
    {1847, "Last help placeholder.", "Segnaposto ultima guida."},
};

bool SeedLanguage(plat::HKEY perflib, const char16_t* code, bool italian) {
    std::u16string counters, helps;  // pair lists, each pair's strings ended by a NUL
    for (const SeedTitle& title : kSeedTitles) {
        std::u16string& list = title.index == 1 || title.index % 2 == 0 ? counters : helps;
        list += vz::Utf8ToUtf16(std::to_string(title.index));
        list.push_back(u'\0');
        list += vz::Utf8ToUtf16(italian ? title.italian : title.english);
        list.push_back(u'\0');
    }
    vz::CKeyHandle key;
    if (key.Create(perflib, code) != 0) return false;
    return ATL::CPerfMon::WriteMultiStringValue(key.Get(), u"Counter", counters.c_str()) == 0 &&
           ATL::CPerfMon::WriteMultiStringValue(key.Get(), u"Help", helps.c_str()) == 0;
}

// A perflib key as a freshly installed machine has it, when there is none yet.
int Seed() {
    vz::CKeyHandle perflibKey;
    if (perflibKey.Create(plat::HKeyLocalMachine(), vz::kPerflibKeyPath) != 0) {
        std::fprintf(stderr, "qvreg: cannot create the perflib key\n");
        return 1;
    }
    const plat::HKEY perflib = perflibKey.Get();
    DWORD type = 0, value = 0, size = sizeof value;
    if (plat::RegQueryValueExW(perflib, u"Last Counter", nullptr, &type,
                               reinterpret_cast<vz::BYTE*>(&value), &size) == 0) {
        std::printf("qvreg: perflib key present (Last Counter %u), not seeded\n", value);
        return 0;
    }
    const bool counters =
        SetDword(perflib, u"Last Counter", 1846) && SetDword(perflib, u"Last Help", 1847) &&
        SetDword(perflib, u"Version", 0x20000);
    // Wine answers the 009 key itself and refuses writes to it; a language key
    // that cannot be written is left as the system has it.
    const bool english = counters && SeedLanguage(perflib, u"009", false);
    const bool italian = counters && SeedLanguage(perflib, u"010", true);
    perflibKey.Close();
    if (counters && english != italian)
        std::printf("qvreg: language key %s cannot be written here, left as it is\n",
                    english ? "010" : "009");
    if (!english && !italian) {
        std::fprintf(stderr, "qvreg: seeding the perflib key failed\n");
        return 1;
    }
    std::printf("qvreg: perflib key seeded (Last Counter 1846, Last Help 1847, %s)\n",
                english && italian ? "009 and 010" : english ? "009" : "010");
    return 0;
}

int CallRegistration(const std::u16string& path, bool unregister) {
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    const std::string shown = vz::Utf16ToUtf8(path);
    plat::HMODULE module = plat::LoadLibraryExW(path.c_str(), nullptr, 0);
    if (module == nullptr) {
        std::fprintf(stderr, "qvreg: cannot load %s (error %u)\n", shown.c_str(),
                     plat::GetLastError());
        return 2;
    }
    auto function = reinterpret_cast<RegistrationFn>(plat::GetProcAddress(module, entry));
    if (function == nullptr) {
        std::fprintf(stderr, "qvreg: %s has no entry point %s\n", shown.c_str(), entry);
        plat::FreeLibrary(module);
        return 2;
    }
    const vz::HRESULT hr = function();
    std::printf("qvreg: %s of %s returned 0x%08X\n", entry, shown.c_str(),
                static_cast<unsigned>(hr));
    plat::FreeLibrary(module);
    return vz::Succeeded(hr) ? 0 : 1;
}

const char kUsage[] =
    "usage: qvreg [--seed] [/u] [library path]\n"
    "       qvreg --version   prints the version\n"
    "       qvreg --where     prints the registry file the Linux tools share\n";

int Run(const std::vector<std::string>& args) {
    bool seed = false, unregister = false, where = false;
    std::string path;
    for (const std::string& a : args) {
        if (a == "--version")
            return std::puts("qvreg " VUDOZID_VERSION), 0;
        else if (a == "--seed")
            seed = true;
        else if (a == "--where")
            where = true;
        else if (a == "/u" || a == "-u" || a == "/U")
            unregister = true;
        else if (path.empty() && !a.empty() && a[0] != '-')
            path = a;
        else {
            std::fprintf(stderr, "qvreg: unexpected argument %s\n%s", a.c_str(), kUsage);
            return 2;
        }
    }
    if (!seed && !where && path.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
#ifdef _WIN32
    if (where) {
        std::puts("the Windows registry");
        return 0;
    }
#else
    // The emulated registry writes every change to this file, which is how the
    // library (with a registry layer of its own) and later processes see it.
    const std::string registry = vz::plat::UseRegistryFile("");
    if (where) {
        if (registry.empty()) return std::fputs("qvreg: neither VUDOZID_REGISTRY nor HOME is set\n", stderr), 1;
        std::puts(registry.c_str());
        return 0;
    }
    if (registry.empty())
        std::fprintf(stderr, "qvreg: neither VUDOZID_REGISTRY nor HOME is set; changes are lost at exit\n");
    else
        std::printf("qvreg: registry file %s\n", registry.c_str());
#endif
    // One registration or unregistration, seed included, is one step for
    // other processes: a second qvreg on the same registry file waits for it.
    plat::RegistryTransaction transaction;
    if (!transaction.Held()) {
        std::fprintf(stderr, "qvreg: cannot lock the registry file\n");
        return 1;
    }
    const std::string problem = plat::RegistryFileProblem();
    if (!problem.empty()) {
        std::fprintf(stderr, "qvreg: the registry file is damaged, nothing was changed: %s\n",
                     problem.c_str());
        return 1;
    }
    int status = 0;
    if (seed) status = Seed();
    if (status == 0 && !path.empty()) status = CallRegistration(vz::Utf8ToUtf16(path), unregister);
    return status;
}

}  // namespace

VZ_TOOL_ENTRY_POINT(Run)
