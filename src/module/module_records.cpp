#include "module/module_records.h"

namespace vz {

HRESULT CreateModuleLock(plat::CriticalSectionStorage* lock) {
    return plat::InitializeCriticalSection(lock) ? S_OK : E_OUTOFMEMORY;
}

CClassObjectTable::CClassObjectTable()
    : initialised(0), begin(nullptr), end(nullptr), lock() {
    if (Failed(CreateModuleLock(&lock))) {
        ModuleInitFailed = true;
        return;
    }
    initialised = 1;
}

CClassObjectTable::~CClassObjectTable() {
    if (initialised == 0) return;
    for (const ClassObjectEntry* entry = begin; entry != end; ++entry)
        if (entry->cachedObject != nullptr) entry->cachedObject->Release();
    plat::DeleteCriticalSection(&lock);
    initialised = 0;
}

CModuleResources::CModuleResources()
    : initialised(1), moduleInstance(plat::ThisModule()), resourceInstance(moduleInstance),
      lock() {
    if (Failed(CreateModuleLock(&lock))) {
        ModuleInitFailed = true;
        initialised = 0;
    }
}

CModuleResources::~CModuleResources() {
    if (initialised != 0) plat::DeleteCriticalSection(&lock);
    extraInstances.RemoveAll();
    initialised = 0;
}

BOOL AttachCheck(void*, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH && ModuleInitFailed) return 0;
    return 1;
}

}  // namespace vz
