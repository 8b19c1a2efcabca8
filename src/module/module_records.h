// The process-wide records beside the module object: the class table, the
// module's resource record, the init-failure flag and the two counter
// registration hooks. All of them are static objects of module_statics.cpp.
#pragma once
#include "module/com_types.h"
#include "platform/platform.h"
#include "support/growable_array.h"

namespace vz {

// Creates a lock; E_OUTOFMEMORY when the platform cannot.
[[nodiscard]] HRESULT CreateModuleLock(plat::CriticalSectionStorage* lock);

struct ClassObjectEntry {
    const GUID* classId;
    IUnknown* cachedObject;
};

// The library's creatable classes. The list is empty: no class is exported.
class CClassObjectTable {
public:
    CClassObjectTable();
    ~CClassObjectTable();
    CClassObjectTable(const CClassObjectTable&) = delete;
    CClassObjectTable& operator=(const CClassObjectTable&) = delete;

    DWORD initialised;
    const ClassObjectEntry* begin;
    const ClassObjectEntry* end;
    plat::CriticalSectionStorage lock;
};

// The module and resource instance handles (both the library's own image) and
// a list of extra resource instances that nothing fills.
class CModuleResources {
public:
    CModuleResources();
    ~CModuleResources();
    CModuleResources(const CModuleResources&) = delete;
    CModuleResources& operator=(const CModuleResources&) = delete;

    DWORD initialised;
    plat::HMODULE moduleInstance;
    plat::HMODULE resourceInstance;
    GrowableArray<plat::HMODULE> extraInstances;
    plat::CriticalSectionStorage lock;
};

using RegisterCountersFunction = HRESULT (*)(plat::HMODULE module);
using UnregisterCountersFunction = HRESULT (*)();

extern bool ModuleInitFailed;
extern RegisterCountersFunction RegisterCountersHook;
extern UnregisterCountersFunction UnregisterCountersHook;
extern CClassObjectTable ClassObjects;
extern CModuleResources ModuleResources;

constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;
// FALSE for a process attach after a lock could not be created.
BOOL AttachCheck(void* instance, DWORD reason, void* reserved);

}  // namespace vz
