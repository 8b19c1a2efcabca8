#include "platform/platform.h"
#include "support/hresult.h"

namespace vz {

HRESULT HResultFromLastError() { return HResultFromWin32(static_cast<LONG>(plat::GetLastError())); }

}  // namespace vz
