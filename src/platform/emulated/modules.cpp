// Modules of the emulated platform.
//
// - ThisModule() is a pseudo handle for the image that holds this code; its
//   resources are the compiled-in table (resources/resource_table.h).
// - LoadLibraryExW with LOAD_LIBRARY_AS_DATAFILE accepts only this image's own
//   path (what GetModuleFileNameW reports for ThisModule, or the real file)
//   and returns a data-file handle over the same table. Without flags it loads
//   a shared object with dlopen; GetProcAddress then uses dlsym.
// - GetModuleHandleW(null) is the executable, GetModuleHandleW("Advapi32.dll")
//   a pseudo handle whose only procedure is "RegDeleteKeyExW".
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <mutex>
#include <set>
#include <string>

#include "platform/emulated/emulated_control.h"
#include "platform/emulated/fault_injection.h"
#include "resources/resource_table.h"
#include "support/hresult.h"
#include "support/wide_string.h"

namespace vz {
namespace plat {
namespace {

enum class Kind { Image, Executable, Advapi, DataFile, Shared };

struct Module {
    Kind kind;
    std::u16string path;  // data files and shared objects
    void* dl = nullptr;
};

Module g_image{Kind::Image, u""};
Module g_executable{Kind::Executable, u""};
Module g_advapi{Kind::Advapi, u""};

std::mutex g_mutex;
std::set<Module*> g_loaded;  // data files and shared objects
std::u16string g_fileNameOverride;

HMODULE Handle(Module* module) { return reinterpret_cast<HMODULE>(module); }

Module* Resolve(HMODULE handle) {
    auto* module = reinterpret_cast<Module*>(handle);
    if (module == &g_image || module == &g_executable || module == &g_advapi) return module;
    if (handle == nullptr) return &g_executable;
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_loaded.count(module) != 0 ? module : nullptr;
}

std::u16string RealPath(const char* path) {
    char resolved[PATH_MAX];
    if (path != nullptr && *path != '\0' && realpath(path, resolved) != nullptr) return Utf8ToUtf16(resolved);
    return {};
}

std::u16string ExecutablePath() {
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    buffer[n] = '\0';
    return Utf8ToUtf16(buffer);
}

std::u16string ImagePath() {
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&ImagePath), &info) != 0) {
        std::u16string path = RealPath(info.dli_fname);
        if (!path.empty()) return path;
    }
    return ExecutablePath();
}

std::u16string ModulePath(const Module* module) {
    switch (module->kind) {
        case Kind::Image: {
            std::lock_guard<std::mutex> lock(g_mutex);
            if (!g_fileNameOverride.empty()) return g_fileNameOverride;
            return ImagePath();
        }
        case Kind::Executable: return ExecutablePath();
        case Kind::Advapi: return u"C:\\Windows\\System32\\advapi32.dll";
        default: return module->path;
    }
}

bool SamePath(const std::u16string& a, const std::u16string& b) {
    return !a.empty() && lstrcmpiW(a.c_str(), b.c_str()) == 0;
}

bool HasResources(const Module* module) { return module->kind == Kind::Image || module->kind == Kind::DataFile; }

// Type and name: an integer id, "#123", or a string compared case-insensitively.
bool Matches(const WCHAR* wanted, const char16_t* entryName, std::uint16_t entryId) {
    if (IsIntResource(wanted)) return entryName == nullptr && reinterpret_cast<std::uintptr_t>(wanted) == entryId;
    if (wanted[0] == u'#') {
        std::uint32_t id = 0;
        const WCHAR* p = wanted + 1;
        if (*p == 0) return false;
        for (; *p != 0; ++p) {
            if (*p < u'0' || *p > u'9' || id > 0xFFFF) return false;
            id = id * 10 + static_cast<std::uint32_t>(*p - u'0');
        }
        return entryName == nullptr && id == entryId;
    }
    return entryName != nullptr && lstrcmpiW(wanted, entryName) == 0;
}

// Calls visit(entry) for every resource of `type` and `name`, in table order,
// until it returns false. The lookup's error when there is none: no resource
// of that type, or none of that name; ERROR_SUCCESS otherwise.
template <typename Visit>
LONG ForEachEntry(const WCHAR* type, const WCHAR* name, Visit visit) {
    bool typeSeen = false, nameSeen = false;
    for (std::size_t i = 0; i < resources::kResourceCount; ++i) {
        const resources::ResourceEntry& e = resources::kResourceTable[i];
        if (!Matches(type, e.typeName, e.typeId)) continue;
        typeSeen = true;
        if (!Matches(name, e.name, e.nameId)) continue;
        nameSeen = true;
        if (!visit(e)) break;
    }
    return !typeSeen ? ERROR_RESOURCE_TYPE_NOT_FOUND
                     : !nameSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_SUCCESS;
}

const resources::ResourceEntry* FindEntry(const WCHAR* type, const WCHAR* name, LANGID language,
                                          LONG* error) {
    const resources::ResourceEntry* found = nullptr;
    const LONG lookup = ForEachEntry(type, name, [&](const resources::ResourceEntry& e) {
        if (e.language == language) found = &e;
        return found == nullptr;
    });
    if (found == nullptr) *error = lookup != ERROR_SUCCESS ? lookup : ERROR_RESOURCE_LANG_NOT_FOUND;
    return found;
}

LANGID PrimaryNeutral(LANGID language) { return static_cast<LANGID>(language & 0x3FF); }

// Languages tried, in order (see FindResourceExW).
std::size_t Candidates(LANGID language, LANGID* out) {
    std::size_t n = 0;
    auto add = [&](LANGID l) {
        for (std::size_t i = 0; i < n; ++i)
            if (out[i] == l) return;
        out[n++] = l;
    };
    if (PrimaryNeutral(language) != 0) {
        add(language);
        add(PrimaryNeutral(language));
        add(0x0000);
        add(0x0400);
        add(0x0800);
        return n;
    }
    add(language);
    add(0x0000);
    add(0x0400);
    add(0x0800);
    const LANGID thread = static_cast<LANGID>(GetThreadLocale() & 0xFFFF);
    add(thread);
    add(PrimaryNeutral(thread));
    add(GetSystemDefaultLangID());
    add(PrimaryNeutral(GetSystemDefaultLangID()));
    add(0x0409);
    add(0x0009);
    return n;
}

bool ValidResource(HRSRC resource) {
    const auto* e = reinterpret_cast<const resources::ResourceEntry*>(resource);
    return e >= resources::kResourceTable && e < resources::kResourceTable + resources::kResourceCount;
}

}  // namespace

HMODULE ThisModule() { return Handle(&g_image); }

// Language fallback: for a language with a primary part, the exact language,
// then its primary language with SUBLANG_NEUTRAL, then LANG_NEUTRAL with the
// neutral, default and system-default sublanguages. A neutral request (primary
// language 0) tries the request itself, the neutral forms, the thread's
// language, the system's default language (each also as primary-neutral),
// English (United States and neutral), and finally the first language present.
HRSRC FindResourceExW(HMODULE handle, const WCHAR* type, const WCHAR* name, LANGID language) {
    LONG fault = 0;
    if (emu::detail::TakeFault("FindResourceExW", false, &fault)) {
        SetLastError(static_cast<DWORD>(fault));
        return nullptr;
    }
    const Module* module = Resolve(handle);
    if (module == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!HasResources(module)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    if (type == nullptr || name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    LANGID candidates[16];
    const std::size_t count = Candidates(language, candidates);
    LONG error = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (const resources::ResourceEntry* e = FindEntry(type, name, candidates[i], &error))
            return reinterpret_cast<HRSRC>(const_cast<resources::ResourceEntry*>(e));
        if (error != ERROR_RESOURCE_LANG_NOT_FOUND) break;
    }
    if (error == ERROR_RESOURCE_LANG_NOT_FOUND && PrimaryNeutral(language) == 0) {
        for (std::size_t i = 0; i < resources::kResourceCount; ++i) {
            const resources::ResourceEntry& e = resources::kResourceTable[i];
            if (Matches(type, e.typeName, e.typeId) && Matches(name, e.name, e.nameId))
                return reinterpret_cast<HRSRC>(const_cast<resources::ResourceEntry*>(&e));
        }
    }
    SetLastError(static_cast<DWORD>(error));
    return nullptr;
}

HRSRC FindResourceW(HMODULE module, const WCHAR* name, const WCHAR* type) {
    return FindResourceExW(module, type, name, 0);
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
    if (!ValidResource(resource)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const auto* e = reinterpret_cast<const resources::ResourceEntry*>(resource);
    return const_cast<unsigned char*>(e->data);
}

const void* LockResource(HGLOBAL data) { return data; }

DWORD SizeofResource(HMODULE, HRSRC resource) {
    if (!ValidResource(resource)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return reinterpret_cast<const resources::ResourceEntry*>(resource)->size;
}

BOOL EnumResourceLanguagesW(HMODULE handle, const WCHAR* type, const WCHAR* name,
                            EnumResLangProc callback, std::intptr_t param) {
    const Module* module = Resolve(handle);
    if (module == nullptr || callback == nullptr || type == nullptr || name == nullptr) {
        SetLastError(module == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!HasResources(module)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return 0;
    }
    bool stopped = false;
    const LONG lookup = ForEachEntry(type, name, [&](const resources::ResourceEntry& e) {
        stopped = !callback(handle, type, name, e.language, param);
        return !stopped;
    });
    if (stopped || lookup != ERROR_SUCCESS) {
        SetLastError(stopped ? ERROR_RESOURCE_ENUM_USER_STOP : lookup);
        return 0;
    }
    return 1;
}

HMODULE LoadLibraryExW(const WCHAR* path, HANDLE, DWORD flags) {
    LONG fault = 0;
    if (emu::detail::TakeFault("LoadLibraryExW", false, &fault)) {
        SetLastError(static_cast<DWORD>(fault));
        return nullptr;
    }
    if (path == nullptr || *path == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::u16string wanted(path);
    auto* module = new Module{Kind::DataFile, wanted};
    if ((flags & LOAD_LIBRARY_AS_DATAFILE) != 0) {
        if (!SamePath(wanted, ModulePath(&g_image)) && !SamePath(wanted, ImagePath())) {
            delete module;
            SetLastError(ERROR_FILE_NOT_FOUND);
            return nullptr;
        }
    } else {
        module->kind = Kind::Shared;
        module->dl = dlopen(Utf16ToUtf8(wanted).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module->dl == nullptr) {
            delete module;
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    g_loaded.insert(module);
    return Handle(module);
}

BOOL FreeLibrary(HMODULE handle) {
    Module* module = Resolve(handle);
    if (module == nullptr || handle == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (module->kind != Kind::DataFile && module->kind != Kind::Shared) return 1;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_loaded.erase(module);
    }
    if (module->dl != nullptr) dlclose(module->dl);
    delete module;
    return 1;
}

DWORD GetModuleFileNameW(HMODULE handle, WCHAR* buffer, DWORD size) {
    const Module* module = Resolve(handle);
    if (module == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    const std::u16string path = ModulePath(module);
    if (size == 0 || buffer == nullptr) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() >= size) {  // truncated and terminated, as Windows does since XP
        path.copy(buffer, size - 1);
        buffer[size - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    path.copy(buffer, path.size());
    buffer[path.size()] = 0;
    return static_cast<DWORD>(path.size());
}

HMODULE GetModuleHandleW(const WCHAR* name) {
    if (name == nullptr) return Handle(&g_executable);
    if (lstrcmpiW(name, u"Advapi32.dll") == 0 || lstrcmpiW(name, u"Advapi32") == 0) return Handle(&g_advapi);
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

void* GetProcAddress(HMODULE handle, const char* name) {
    Module* module = Resolve(handle);
    if (module == nullptr || name == nullptr) {
        SetLastError(module == nullptr ? ERROR_INVALID_HANDLE : ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* found = nullptr;
    switch (module->kind) {
        case Kind::Advapi:
            if (std::string(name) == "RegDeleteKeyExW") found = reinterpret_cast<void*>(LookUpRegDeleteKeyExW());
            break;
        case Kind::Shared: found = dlsym(module->dl, name); break;
        case Kind::Image:
        case Kind::Executable: found = dlsym(RTLD_DEFAULT, name); break;
        case Kind::DataFile: break;  // a data file has no code to call
    }
    if (found == nullptr) SetLastError(ERROR_PROC_NOT_FOUND);
    return found;
}

}  // namespace plat

namespace emu {
void SetModuleFileName(const std::u16string& path) {
    std::lock_guard<std::mutex> lock(plat::g_mutex);
    plat::g_fileNameOverride = path;
}
}  // namespace emu
}  // namespace vz
