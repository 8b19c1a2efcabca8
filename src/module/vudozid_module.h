// The library's module object.
#pragma once
#include "module/atl_module.h"

namespace vz {

// The library's AppID; the same GUID identifies its type library.
extern const WCHAR kAppId[];
constexpr unsigned kAppIdScriptResource = 101;

class CVudoZidModule : public ATL::CAtlDllModuleT<CVudoZidModule> {
public:
    [[nodiscard]] HRESULT AddCommonVariables(IRegistrarBase* registrar) override;
};

extern CVudoZidModule VudoZidModule;

}  // namespace vz
