// The registry copy of the object map: the value "Map" of the performance key
// holds the map serialized exactly as the provider lays it out in block 0, so
// that collection can describe the object while no provider is running.
#include <cstring>
#include <new>

#include "objectmap/perfmon.h"
#include "support/allocation.h"
#include "support/atl_exception.h"
#include "support/registry_paths.h"

namespace ATL {
namespace {

constexpr std::size_t kEntrySize = 36;

std::size_t NameRecordSize(const vz::WString& name) {
    return 4 + ((2 * name.Length() + 3) & ~static_cast<std::size_t>(3));
}

// Writes into a buffer of fixed size; every write is checked to stay inside it.
class MapWriter {
public:
    MapWriter(vz::BYTE* buffer, std::size_t size) : buffer_(buffer), size_(size) {}

    bool Words(const vz::DWORD* words, std::size_t count) {
        return Bytes(words, count * sizeof(vz::DWORD));
    }
    bool Name(const vz::WString& name) {
        const vz::DWORD length = static_cast<vz::DWORD>(name.Length());
        if (!Bytes(&length, sizeof length)) return false;
        if (!Bytes(name.c_str(), 2 * name.Length())) return false;
        const std::size_t padding = NameRecordSize(name) - 4 - 2 * name.Length();
        if (padding > size_ - position_) return false;
        position_ += padding;  // the buffer was zero-filled
        return true;
    }

private:
    bool Bytes(const void* data, std::size_t count) {
        if (count > size_ - position_) return false;
        if (count != 0) std::memcpy(buffer_ + position_, data, count);
        position_ += count;
        return true;
    }

    vz::BYTE* buffer_;
    std::size_t size_;
    std::size_t position_ = 0;
};

bool WriteMap(const CPerfMon& monitor, MapWriter& writer, vz::DWORD size) {
    const vz::DWORD header[2] = {size, monitor.CountMapEntries()};
    if (!writer.Words(header, 2)) return false;
    for (const CategoryRecord& category : monitor.categories) {
        const vz::DWORD entry[9] = {1,
                                    category.id,
                                    category.detailLevel,
                                    category.defaultCounter,
                                    category.noInstancesMarker,
                                    category.instanceDataSize,
                                    category.maxInstanceNameLength,
                                    category.nameTitleIndex,
                                    category.helpTitleIndex};
        if (!writer.Words(entry, 9)) return false;
        for (const CounterRecord& counter : category.counters) {
            const vz::DWORD counterEntry[9] = {0,
                                               counter.id,
                                               counter.detailLevel,
                                               counter.counterType,
                                               counter.maxCharacters,
                                               counter.dataOffset,
                                               static_cast<vz::DWORD>(counter.defaultScale),
                                               counter.nameTitleIndex,
                                               counter.helpTitleIndex};
            if (!writer.Words(counterEntry, 9)) return false;
        }
    }
    for (const CategoryRecord& category : monitor.categories) {
        if (!writer.Name(category.name)) return false;
        for (const CounterRecord& counter : category.counters)
            if (!writer.Name(counter.name)) return false;
    }
    return true;
}

// A category with an empty name leaves out its own name record and those of
// its counters here, so that the write of its names does not fit and fails.
std::size_t MapSize(const CPerfMon& monitor) {
    std::size_t size = 8 + kEntrySize * monitor.CountMapEntries();
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
        MapWriter writer(buffer, size);
        if (!WriteMap(*this, writer, static_cast<vz::DWORD>(size))) {
            vz::FreeMemory(buffer);
            return vz::E_FAIL;
        }

        vz::WString path = vz::PerformanceKeyPath(ApplicationName());
        vz::plat::HKEY key = nullptr;
        vz::LONG rc = vz::plat::RegOpenKeyExW(vz::plat::HKeyLocalMachine(), path.c_str(), 0,
                                              vz::plat::KEY_READ | vz::plat::KEY_WRITE, &key);
        if (rc == vz::ERROR_SUCCESS) {
            rc = vz::plat::RegSetValueExW(key, u"Map", 0, vz::plat::REG_BINARY, buffer,
                                          static_cast<vz::DWORD>(size));
            vz::plat::RegCloseKey(key);
        }
        vz::FreeMemory(buffer);
        return vz::HResultFromWin32(rc);
    } catch (...) {
        vz::FreeMemory(buffer);
        return vz::E_OUTOFMEMORY;
    }
}

}  // namespace ATL
