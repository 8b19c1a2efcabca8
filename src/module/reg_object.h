// The registrar: one registry-script run with its variable table, and loading
// a "REGISTRY" script resource from a module file.
#pragma once
#include "module/com_types.h"
#include "module/variable_table.h"

struct IRegistrarBase : public vz::IUnknown {
    virtual vz::HRESULT VZ_STDCALL AddVariable(const vz::WCHAR* name, const vz::WCHAR* value) = 0;
    virtual vz::HRESULT VZ_STDCALL ClearVariables() = 0;
};

namespace ATL {

class CRegObject : public IRegistrarBase {
public:
    CRegObject() noexcept = default;

    // No interface is handed out and reference counting is not used: the
    // owner destroys the object.
    vz::HRESULT VZ_STDCALL QueryInterface(const vz::GUID& interfaceId, void** object) override;
    vz::ULONG VZ_STDCALL AddRef() override { return 1; }
    vz::ULONG VZ_STDCALL Release() override { return 0; }
    vz::HRESULT VZ_STDCALL AddVariable(const vz::WCHAR* name, const vz::WCHAR* value) override;
    vz::HRESULT VZ_STDCALL ClearVariables() override;
    virtual ~CRegObject();

    [[nodiscard]] vz::HRESULT RegisterFromResource(const vz::WCHAR* modulePath, unsigned resourceId,
                                     const vz::WCHAR* resourceType);
    [[nodiscard]] vz::HRESULT UnregisterFromResource(const vz::WCHAR* modulePath, unsigned resourceId,
                                       const vz::WCHAR* resourceType);
    // Loads the module file as data, converts the resource's ANSI text with the
    // thread's code page and runs it.
    [[nodiscard]] vz::HRESULT RunScriptResource(const vz::WCHAR* modulePath, unsigned resourceId,
                                  const vz::WCHAR* resourceType, bool registerMode);

    const vz::VariableTable& Variables() const noexcept { return variables_; }

private:
    vz::VariableTable variables_;
};

}  // namespace ATL
