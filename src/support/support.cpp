#include <cstring>

#include "support/atl_exception.h"
#include "support/checked_copy.h"

namespace ATL {

void AtlThrow(vz::HRESULT hr) { throw CAtlException(hr); }

}  // namespace ATL

namespace vz {

HRESULT HResultFromCopyError(int error) {
    switch (error) {
        case kErrOk:
        case kErrTruncate:
            return S_OK;
        case kErrNoMem:
            return E_OUTOFMEMORY;
        case kErrInval:
        case kErrRange:
            return E_INVALIDARG;
        default:
            return E_FAIL;
    }
}

void CheckCopyError(int error) {
    HRESULT hr = HResultFromCopyError(error);
    if (Failed(hr)) ATL::AtlThrow(hr);
}

int CopyBytes(void* dest, std::size_t destSize, const void* src, std::size_t count) {
    if (count == 0) return kErrOk;
    if (dest == nullptr) return kErrInval;
    if (src == nullptr) {
        std::memset(dest, 0, destSize);
        return kErrInval;
    }
    if (destSize < count) {
        std::memset(dest, 0, destSize);
        return kErrRange;
    }
    std::memmove(dest, src, count);
    return kErrOk;
}

int CopyWideString(WCHAR* dest, std::size_t destCount, const WCHAR* src, std::size_t count) {
    if (dest == nullptr || destCount == 0) return kErrInval;
    if (src == nullptr) {
        dest[0] = 0;
        return kErrInval;
    }
    std::size_t n = WideLengthBounded(src, count);
    if (n >= destCount) {
        dest[0] = 0;
        return kErrRange;
    }
    std::memmove(dest, src, n * sizeof(WCHAR));
    dest[n] = 0;
    return kErrOk;
}

void CheckedCopyBytes(void* dest, std::size_t destSize, const void* src, std::size_t count) {
    CheckCopyError(CopyBytes(dest, destSize, src, count));
}

void CheckedCopyWideString(WCHAR* dest, std::size_t destCount, const WCHAR* src,
                           std::size_t count) {
    CheckCopyError(CopyWideString(dest, destCount, src, count));
}

std::size_t WideLength(const WCHAR* text) {
    std::size_t n = 0;
    if (text != nullptr)
        while (text[n] != 0) ++n;
    return n;
}

std::size_t WideLengthBounded(const WCHAR* text, std::size_t max) {
    std::size_t n = 0;
    if (text != nullptr)
        while (n < max && text[n] != 0) ++n;
    return n;
}

}  // namespace vz
