// The exception object that carries an HRESULT, and the mapping of the checked
// copy routines' error numbers onto it.
#pragma once
#include "support/hresult.h"

namespace ATL {

class CAtlException {
public:
    explicit CAtlException(vz::HRESULT error = vz::E_FAIL) noexcept : hr(error) {}
    operator vz::HRESULT() const noexcept { return hr; }
    vz::HRESULT hr;
};

[[noreturn]] void AtlThrow(vz::HRESULT hr);

}  // namespace ATL

namespace vz {

// errno-style results of the checked copies.
constexpr int kErrOk = 0;
constexpr int kErrNoMem = 12;     // ENOMEM
constexpr int kErrInval = 22;     // EINVAL
constexpr int kErrRange = 34;     // ERANGE
constexpr int kErrTruncate = 80;  // STRUNCATE

// 0 and STRUNCATE are success; ENOMEM gives E_OUTOFMEMORY, EINVAL and ERANGE
// give E_INVALIDARG, anything else E_FAIL.
HRESULT HResultFromCopyError(int error);

// Raises CAtlException unless the copy error counts as success.
void CheckCopyError(int error);

}  // namespace vz
