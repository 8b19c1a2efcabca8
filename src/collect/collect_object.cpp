// One monitor's share of a sample: make sure the blocks and the map are there,
// then write every requested category into perflib's buffer.
#include <new>

#include "objectmap/perfmon.h"
#include "support/atl_exception.h"

namespace ATL {
namespace {

vz::DWORD NoData(vz::DWORD* totalBytes, vz::DWORD* numObjectTypes, vz::DWORD result) {
    *totalBytes = 0;
    *numObjectTypes = 0;
    return result;
}

}  // namespace

vz::DWORD CPerfMon::CollectObject(const vz::WCHAR* valueName, void** data,
                                  vz::DWORD* totalBytes, vz::DWORD* numObjectTypes) {
    try {
        if (vz::Failed(OpenBlocks())) return NoData(totalBytes, numObjectTypes, 0);
        auto* cursor = static_cast<vz::BYTE*>(*data);
        vz::DWORD capacity = *totalBytes;
        *totalBytes = 0;
        if (categories.IsEmpty() && vz::Failed(LoadRegisteredMap()))
            return NoData(totalBytes, numObjectTypes, 0);

        for (std::size_t i = 0; i < categories.GetCount(); ++i) {
            CategoryRecord& category = categories[i];
            if (!IsCategoryRequested(valueName, category.nameTitleIndex)) continue;
            vz::DWORD written = 0;
            vz::HRESULT hr = RenderCategory(&category, &cursor, capacity, &written);
            if (hr == vz::E_OUTOFMEMORY)
                return NoData(totalBytes, numObjectTypes, vz::ERROR_MORE_DATA);
            if (vz::Failed(hr)) return NoData(totalBytes, numObjectTypes, 0);
            *numObjectTypes += 1;
            *totalBytes += written;
            capacity -= written;
        }
        *data = cursor;
        return 0;
    } catch (...) {
        return NoData(totalBytes, numObjectTypes, 0);
    }
}

void CPerfMon::CloseObject() noexcept {
    if (optionalHandle != nullptr) {
        vz::plat::CloseHandle(optionalHandle);
        optionalHandle = nullptr;
    }
    ReleaseBlocks();
    ClearObjectMap();
}

}  // namespace ATL
