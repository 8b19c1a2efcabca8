// Reading the object map back from the registry value "Map" when no provider
// is running.
#include "objectmap/perfmon.h"
#include "support/allocation.h"
#include "support/registry_paths.h"

namespace ATL {
namespace {

// The value's type and size, then its bytes, each query checked for REG_BINARY.
vz::HRESULT QueryMap(vz::plat::HKEY key, vz::BYTE* buffer, vz::DWORD* size) {
    vz::DWORD type = 0;
    vz::LONG rc = vz::plat::RegQueryValueExW(key, u"Map", nullptr, &type, buffer, size);
    if (rc != vz::ERROR_SUCCESS) return vz::HResultFromWin32(rc);
    if (type != vz::plat::REG_BINARY) return vz::HResultFromWin32(vz::ERROR_INVALID_DATA);
    return vz::S_OK;
}

}  // namespace

vz::HRESULT CPerfMon::LoadRegisteredMap() {
    vz::WString path = vz::PerformanceKeyPath(ApplicationName());
    vz::plat::HKEY key = nullptr;
    vz::LONG rc = vz::plat::RegOpenKeyExW(vz::plat::HKeyLocalMachine(), path.c_str(), 0,
                                          vz::plat::KEY_READ, &key);
    if (rc != vz::ERROR_SUCCESS) return vz::HResultFromWin32(rc);

    vz::DWORD size = 0;
    vz::HRESULT hr = QueryMap(key, nullptr, &size);
    vz::BYTE* buffer = nullptr;
    std::size_t allocated = 0;
    if (vz::Succeeded(hr)) {
        // Whole words, so a value of odd length is still read into aligned storage.
        const std::size_t words = (static_cast<std::size_t>(size) + 3) / 4;
        if (words > static_cast<std::size_t>(-1) / 4) hr = vz::E_OUTOFMEMORY;
        else buffer = static_cast<vz::BYTE*>(vz::AllocateZeroed(words, 4));
        if (vz::Succeeded(hr) && buffer == nullptr) hr = vz::E_OUTOFMEMORY;
        allocated = 4 * words;
    }
    if (vz::Succeeded(hr)) hr = QueryMap(key, buffer, &size);
    if (vz::Succeeded(hr)) hr = ReadSerializedMap(buffer, size < allocated ? size : allocated);
    vz::FreeMemory(buffer);
    vz::plat::RegCloseKey(key);
    return hr;
}

}  // namespace ATL
