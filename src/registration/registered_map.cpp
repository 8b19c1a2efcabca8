// The registry copy of the object map: the value "Map" of the performance key
// holds the map serialized exactly as the provider lays it out in block 0, so
// that collection can describe the object while no provider is running.
#include "objectmap/perfmon.h"
#include "platform/registry_key.h"
#include "sharedmem/byte_layout.h"
#include "support/allocation.h"
#include "support/atl_exception.h"
#include "support/registry_paths.h"

namespace ATL {
namespace {

std::size_t NameRecordSize(const vz::WString& name) {
    return static_cast<std::size_t>(vz::NameRecordSize(name.Length()));
}

// A category with an empty name leaves out its own name record and those of
// its counters here, so that the write of its names does not fit and fails.
std::size_t MapSize(const CPerfMon& monitor) {
    std::size_t size = static_cast<std::size_t>(vz::MapEntriesEnd(monitor.CountMapEntries()));
    for (const CategoryRecord& category : monitor.categories) {
        if (category.name.IsEmpty()) continue;
        size += NameRecordSize(category.name);
        for (const CounterRecord& counter : category.counters) size += NameRecordSize(counter.name);
    }
    return size;
}

}  // namespace

vz::DWORD CPerfMon::CountMapEntries() const {
    std::size_t count = categories.GetCount();
    for (const CategoryRecord& category : categories) count += category.counters.GetCount();
    return static_cast<vz::DWORD>(count);
}

vz::HRESULT CPerfMon::WriteRegisteredMap() {
    vz::BYTE* buffer = nullptr;
    try {
        const std::size_t size = MapSize(*this);
        if (size > 0xFFFFFFFFu) return vz::E_OUTOFMEMORY;
        buffer = static_cast<vz::BYTE*>(vz::AllocateZeroed(size, 1));
        if (buffer == nullptr) return vz::E_OUTOFMEMORY;
        vz::ByteWriter writer(buffer, size);
        if (!vz::WriteSerializedMap(writer, static_cast<vz::DWORD>(size), categories)) {
            vz::FreeMemory(buffer);
            return vz::E_FAIL;
        }

        vz::WString path = vz::PerformanceKeyPath(ApplicationName());
        vz::CKeyHandle key;
        vz::LONG rc = key.Open(vz::plat::HKeyLocalMachine(), path.c_str());
        if (rc == vz::ERROR_SUCCESS) {
            rc = vz::plat::RegSetValueExW(key.Get(), u"Map", 0, vz::plat::REG_BINARY, buffer,
                                          static_cast<vz::DWORD>(size));
            key.Close();
        }
        vz::FreeMemory(buffer);
        return vz::HResultFromWin32(rc);
    } catch (...) {
        vz::FreeMemory(buffer);
        return vz::E_OUTOFMEMORY;
    }
}

}  // namespace ATL
