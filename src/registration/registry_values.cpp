// The validated string reads and the multi-string write that the pair-list and
// language-list editing rely on: what they hand back is always terminated.
#include "objectmap/perfmon.h"
#include "registration/registry_access.h"

namespace ATL {

using namespace vz;

namespace {

// Characters to bytes for the registry, kept inside 32 bits.
DWORD ByteCount(DWORD characters) {
    return characters > 0x7FFFFFFFu ? 0xFFFFFFFEu : characters * 2;
}

}  // namespace

LONG CPerfMon::ReadStringValue(plat::HKEY key, const WCHAR* name, WCHAR* buffer, DWORD* size) {
    DWORD type = 0;
    DWORD bytes = ByteCount(*size);
    LONG error = plat::RegQueryValueExW(key, name, nullptr, &type,
                                        reinterpret_cast<BYTE*>(buffer), &bytes);
    if (error != ERROR_SUCCESS) return error;
    if (type != plat::REG_SZ && type != plat::REG_EXPAND_SZ) return ERROR_INVALID_DATA;
    if (buffer != nullptr) {
        if (bytes % 2 != 0) return ERROR_INVALID_DATA;
        if (bytes == 0) {
            if (*size == 0) return ERROR_INSUFFICIENT_BUFFER;  // no room for the empty string
            buffer[0] = 0;
        } else if (buffer[bytes / 2 - 1] != 0) {
            return ERROR_INVALID_DATA;
        }
    }
    *size = bytes / 2;
    return ERROR_SUCCESS;
}

LONG CPerfMon::ReadMultiStringValue(plat::HKEY key, const WCHAR* name, WCHAR* buffer,
                                    DWORD* size) {
    if (buffer != nullptr && *size < 2) return ERROR_INSUFFICIENT_BUFFER;
    DWORD type = 0;
    DWORD bytes = ByteCount(*size);
    LONG error = plat::RegQueryValueExW(key, name, nullptr, &type,
                                        reinterpret_cast<BYTE*>(buffer), &bytes);
    if (error != ERROR_SUCCESS) return error;
    if (type != plat::REG_MULTI_SZ) return ERROR_INVALID_DATA;
    if (buffer != nullptr) {
        DWORD characters = bytes / 2;
        if (bytes % 2 != 0 || characters < 1 || buffer[characters - 1] != 0 ||
            (characters > 1 && buffer[characters - 2] != 0)) {
            return ERROR_INVALID_DATA;
        }
    }
    *size = bytes / 2;
    return ERROR_SUCCESS;
}

LONG CPerfMon::WriteMultiStringValue(plat::HKEY key, const WCHAR* name, const WCHAR* buffer) {
    if (buffer == nullptr) return ERROR_INVALID_DATA;
    const WCHAR* end = buffer;
    while (*end != 0) {
        while (*end != 0) ++end;
        ++end;
    }
    std::size_t bytes = static_cast<std::size_t>(end - buffer + 1) * sizeof(WCHAR);
    if (bytes > 0xFFFFFFFFu) return ERROR_INVALID_DATA;
    return plat::RegSetValueExW(key, name, 0, plat::REG_MULTI_SZ,
                                reinterpret_cast<const BYTE*>(buffer), static_cast<DWORD>(bytes));
}

}  // namespace ATL
