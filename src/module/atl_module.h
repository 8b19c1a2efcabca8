// The module base chain: _ATL_MODULE70 holds the module's fields, CAtlModule
// its lock count, interface table and registry-script runs, CAtlModuleT and
// CAtlDllModuleT the DLL exports' behaviour for the derived module class.
#pragma once
#include "module/com_types.h"
#include "platform/platform.h"

struct IRegistrarBase;

namespace ATL {

struct _ATL_MODULE70 {
    vz::DWORD initialised;  // non-zero while the static-data lock exists
    vz::LONG lockCount;     // changed only with interlocked operations
    vz::plat::CriticalSectionStorage staticDataLock;
    void* interfaceTable;   // the global interface table, once asked for
};

// One (name, value) pair for a registry-script run; a null name ends a list.
struct ScriptVariable {
    const vz::WCHAR* name;
    const vz::WCHAR* value;
};

class CAtlModule : public _ATL_MODULE70 {
public:
    CAtlModule();
    virtual ~CAtlModule();
    CAtlModule(const CAtlModule&) = delete;
    CAtlModule& operator=(const CAtlModule&) = delete;

    virtual vz::LONG IncrementLock();
    virtual vz::LONG DecrementLock();
    virtual vz::LONG LockCount();
    [[nodiscard]] virtual vz::HRESULT GetInterfaceTable(void** table);
    [[nodiscard]] virtual vz::HRESULT AddCommonVariables(IRegistrarBase* registrar);

    // Runs the "REGISTRY" resource `resourceId` of this library with the
    // caller's variables, "Module" and "Module_Raw".
    [[nodiscard]] vz::HRESULT RunRegistryResource(unsigned resourceId, bool registerMode,
                                    const ScriptVariable* variables);

private:
    void Term();
};

template <class T>
class CAtlModuleT : public CAtlModule {};

class CRegObject;
constexpr vz::DWORD kModulePathUnits = 260;
// Adds "Module" and "Module_Raw" for the file of `module` to the registrar,
// with single quotes doubled; `path` (kModulePathUnits) receives the path as is.
[[nodiscard]] vz::HRESULT AddModuleVariables(CRegObject& registrar, vz::plat::HMODULE module, vz::WCHAR* path);

// The four COM-style exports, for a module without creatable classes.
[[nodiscard]] vz::HRESULT ModuleCanUnloadNow(CAtlModule& module);
[[nodiscard]] vz::HRESULT ModuleGetClassObject(const vz::GUID& classId, const vz::GUID& interfaceId,
                                 void** object);
[[nodiscard]] vz::HRESULT ModuleRegisterServer(CAtlModule& module);
[[nodiscard]] vz::HRESULT ModuleUnregisterServer(CAtlModule& module);

template <class T>
class CAtlDllModuleT : public CAtlModuleT<T> {
public:
    vz::HRESULT DllCanUnloadNow() { return ModuleCanUnloadNow(*this); }
    vz::HRESULT DllGetClassObject(const vz::GUID& classId, const vz::GUID& interfaceId,
                                  void** object) {
        return ModuleGetClassObject(classId, interfaceId, object);
    }
    vz::HRESULT DllRegisterServer() { return ModuleRegisterServer(*this); }
    vz::HRESULT DllUnregisterServer() { return ModuleUnregisterServer(*this); }
};

}  // namespace ATL

namespace vz {
// The one module object; its constructor sets this.
extern ATL::CAtlModule* CurrentModule;
}  // namespace vz
