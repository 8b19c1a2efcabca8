// Named file mappings over POSIX shared memory. A mapping handle holds the
// open descriptor, and with it the object's name (object_handles.h); views are
// mmap'ed from it. Reader views are PROT_READ, so a stray write through them
// faults as it would on Windows.
// Reader views are guarded against a provider that shrinks its object (see
// view_guard.h).
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "platform/emulated/emulated_control.h"
#include "platform/emulated/fault_injection.h"
#include "platform/emulated/object_handles.h"
#include "platform/emulated/view_guard.h"
#include "support/hresult.h"
#include "support/utf_text.h"

namespace vz {
namespace emu {
namespace {

struct Mapping {
    int fd;
    bool writable;
    bool reader;  // opened with OpenFileMappingW
    std::string objectName;
};

struct View {
    std::size_t size;
    bool reader;
};

struct MappingTable {
    std::mutex mutex;
    std::set<Mapping*> mappings;
    std::map<const void*, View> views;
};

MappingTable& Table() {
    static MappingTable table;
    return table;
}

bool Fails(const char* function) {
    LONG error = 0;
    if (!detail::TakeFault(function, false, &error)) return false;
    plat::SetLastError(static_cast<DWORD>(error));
    return true;
}

}  // namespace

LONG ErrorFromErrno(int error) {
    switch (error) {
        case ENOENT: return ERROR_FILE_NOT_FOUND;
        case EACCES:
        case EPERM: return ERROR_ACCESS_DENIED;
        case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
        case ENOMEM:
        case ENOSPC: return ERROR_NOT_ENOUGH_MEMORY;
        case EINVAL: return ERROR_INVALID_PARAMETER;
        default: return ERROR_GEN_FAILURE;
    }
}

namespace {

// Appends the hex digits of one byte; false when `out` has no room left.
bool AppendHexByte(unsigned char byte, char* out, std::size_t size, std::size_t* used) {
    static const char kDigits[] = "0123456789abcdef";
    if (size - *used < 3) return false;  // two digits and the terminator
    out[(*used)++] = kDigits[byte >> 4];
    out[(*used)++] = kDigits[byte & 15];
    out[*used] = '\0';
    return true;
}

}  // namespace

// Built in the caller's buffer: probing for a block that is not there must not
// allocate, in this layer either.
bool FormatSharedMemoryObjectName(const char16_t* name, char* out, std::size_t size) {
    const char* space = std::getenv("VUDOZID_SHM_NAMESPACE");
    const int prefix = space != nullptr && *space != '\0'
                           ? std::snprintf(out, size, "/vudozid.%s.", space)
                           : std::snprintf(out, size, "/vudozid.");
    if (prefix < 0 || static_cast<std::size_t>(prefix) >= size) return false;
    std::size_t used = static_cast<std::size_t>(prefix);
    const std::size_t length = std::char_traits<char16_t>::length(name);
    for (std::size_t pos = 0; pos < length;) {
        unsigned char bytes[4];
        const std::size_t count = EncodeUtf8(NextCodePoint(name, length, &pos), bytes);
        for (std::size_t k = 0; k < count; ++k)
            if (!AppendHexByte(bytes[k], out, size, &used)) return false;
    }
    return true;
}

std::string SharedMemoryObjectName(const std::u16string& name) {
    char object[kMaxObjectName];
    return FormatSharedMemoryObjectName(name.c_str(), object, sizeof object) ? object : "";
}

bool RemoveSharedMemory(const std::u16string& name) {
    return shm_unlink(SharedMemoryObjectName(name).c_str()) == 0;
}

std::size_t OpenMappingCount() {
    MappingTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    std::size_t count = 0;
    for (const Mapping* m : table.mappings) count += m->reader ? 1 : 0;
    for (const auto& view : table.views) count += view.second.reader ? 1 : 0;
    return count;
}


}  // namespace emu

namespace plat {

using emu::Mapping;
using emu::View;

namespace {

DWORD g_granularity = 65536;

Mapping* FindMapping(HANDLE handle) {
    auto* mapping = reinterpret_cast<Mapping*>(handle);
    return emu::Table().mappings.count(mapping) != 0 ? mapping : nullptr;
}

void* MapLocked(Mapping* mapping, DWORD access, std::uint64_t offset, std::size_t size, bool reader) {
    const bool write = (access & FILE_MAP_WRITE) != 0;
    if (write && !mapping->writable) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (offset % g_granularity != 0) {
        SetLastError(ERROR_MAPPED_ALIGNMENT);
        return nullptr;
    }
    struct stat info;
    if (fstat(mapping->fd, &info) != 0) {
        SetLastError(emu::ErrorFromErrno(errno));
        return nullptr;
    }
    const std::uint64_t objectSize = static_cast<std::uint64_t>(info.st_size);
    if (size == 0) size = offset < objectSize ? static_cast<std::size_t>(objectSize - offset) : 0;
    // A view may not reach beyond the object.
    if (size == 0 || offset > objectSize || size > objectSize - offset) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    void* view = mmap(nullptr, size, write ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED,
                      mapping->fd, static_cast<off_t>(offset));
    if (view == MAP_FAILED) {
        SetLastError(emu::ErrorFromErrno(errno));
        return nullptr;
    }
    if (reader && !emu::GuardReaderView(view, size)) {
        munmap(view, size);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    emu::Table().views[view] = View{size, reader};
    return view;
}

bool UnmapLocked(const void* view) {
    auto it = emu::Table().views.find(view);
    if (it == emu::Table().views.end()) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return false;
    }
    if (it->second.reader) emu::UnguardReaderView(view);
    munmap(const_cast<void*>(view), it->second.size);
    emu::Table().views.erase(it);
    return true;
}

bool CloseLocked(HANDLE handle) {
    Mapping* mapping = FindMapping(handle);
    if (mapping == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    emu::CloseObjectHandle(mapping->objectName.c_str(), mapping->fd);
    emu::Table().mappings.erase(mapping);
    delete mapping;
    return true;
}

}  // namespace

HANDLE OpenFileMappingW(DWORD access, BOOL, const WCHAR* name) {
    if (emu::Fails("OpenFileMappingW")) return nullptr;
    if (name == nullptr || *name == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const bool write = (access & FILE_MAP_WRITE) != 0;
    char object[emu::kMaxObjectName];
    if (!emu::FormatSharedMemoryObjectName(name, object, sizeof object)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    const int fd = emu::OpenObjectHandle(object, write ? O_RDWR : O_RDONLY);
    if (fd < 0) {
        SetLastError(emu::ErrorFromErrno(errno));
        return nullptr;
    }
    auto* mapping = new Mapping{fd, write, true, object};
    std::lock_guard<std::mutex> lock(emu::Table().mutex);
    emu::Table().mappings.insert(mapping);
    return reinterpret_cast<HANDLE>(mapping);
}

void* MapViewOfFileEx(HANDLE handle, DWORD access, DWORD offsetHigh, DWORD offsetLow,
                      std::size_t size, void* baseAddress) {
    if (emu::Fails("MapViewOfFileEx")) return nullptr;
    std::lock_guard<std::mutex> lock(emu::Table().mutex);
    Mapping* mapping = FindMapping(handle);
    if (mapping == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (baseAddress != nullptr) {  // placing views is not supported here
        SetLastError(ERROR_INVALID_ADDRESS);
        return nullptr;
    }
    const std::uint64_t offset = (static_cast<std::uint64_t>(offsetHigh) << 32) | offsetLow;
    return MapLocked(mapping, access, offset, size, true);
}

BOOL UnmapViewOfFile(const void* view) {
    std::lock_guard<std::mutex> lock(emu::Table().mutex);
    return UnmapLocked(view) ? 1 : 0;
}

BOOL CloseHandle(HANDLE handle) {
    std::lock_guard<std::mutex> lock(emu::Table().mutex);
    return CloseLocked(handle) ? 1 : 0;
}

// The claim object's holder keeps a handle to it (shared_memory_writer.cpp),
// whose lock can be tested without taking one a publisher could find busy.
bool PublisherClaimHeld(const WCHAR* name) {
    char object[emu::kMaxObjectName];
    if (name == nullptr || !emu::FormatSharedMemoryObjectName(name, object, sizeof object))
        return false;
    const int fd = shm_open(object, O_RDONLY, 0);
    if (fd < 0) return false;
    const bool held = emu::OtherHandleOpen(fd);
    close(fd);
    return held;
}

DWORD GetAllocationGranularity() { return g_granularity; }

}  // namespace plat

namespace emu {
void SetAllocationGranularityValue(DWORD granularity) {
    if (granularity != 0) plat::g_granularity = granularity;
}
}  // namespace emu
}  // namespace vz
