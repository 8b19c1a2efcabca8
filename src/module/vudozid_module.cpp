#include "module/vudozid_module.h"

#include "module/reg_object.h"

namespace vz {

const WCHAR kAppId[] = u"{FF41D410-F176-44fd-9A2F-AB1668C7A041}";

HRESULT CVudoZidModule::AddCommonVariables(IRegistrarBase* registrar) {
    return registrar->AddVariable(u"APPID", kAppId);
}

}  // namespace vz
