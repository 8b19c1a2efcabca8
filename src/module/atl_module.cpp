#include "module/atl_module.h"

#include "module/module_records.h"

namespace ATL {

using namespace vz;

namespace {

// Calls AddRef through the object's IUnknown slot table.
void AddRefInterface(void* object) {
    struct Slots {
        void* queryInterface;
        ULONG(VZ_STDCALL* addRef)(void* self);
        void* release;
    };
    Slots* const* vtable = static_cast<Slots* const*>(object);
    (*vtable)->addRef(object);
}

}  // namespace

CAtlModule::CAtlModule() {
    initialised = 0;
    lockCount = 0;
    staticDataLock = plat::CriticalSectionStorage();
    interfaceTable = nullptr;
    CurrentModule = this;
    if (Failed(CreateModuleLock(&staticDataLock))) {
        ModuleInitFailed = true;
        return;
    }
    initialised = 1;
}

CAtlModule::~CAtlModule() { Term(); }

void CAtlModule::Term() {
    if (initialised == 0) return;
    if (interfaceTable != nullptr) {
        plat::ReleaseInterface(interfaceTable);
        interfaceTable = nullptr;
    }
    plat::DeleteCriticalSection(&staticDataLock);
    initialised = 0;
}

LONG CAtlModule::IncrementLock() { return plat::AtomicIncrement(&lockCount); }

LONG CAtlModule::DecrementLock() { return plat::AtomicDecrement(&lockCount); }

LONG CAtlModule::LockCount() { return lockCount; }

HRESULT CAtlModule::GetInterfaceTable(void** table) {
    if (table == nullptr) return E_POINTER;
    if (interfaceTable == nullptr) {
        HRESULT hr = plat::CreateGlobalInterfaceTable(&interfaceTable);
        if (Failed(hr)) {
            interfaceTable = nullptr;
            return hr;
        }
    }
    AddRefInterface(interfaceTable);
    *table = interfaceTable;
    return S_OK;
}

HRESULT CAtlModule::AddCommonVariables(IRegistrarBase*) { return S_OK; }

}  // namespace ATL

namespace vz {
ATL::CAtlModule* CurrentModule = nullptr;
}  // namespace vz
