// Named file mappings over POSIX shared memory. A mapping handle holds the
// open descriptor; views are mmap'ed from it. Reader views are PROT_READ, so a
// stray write through them faults as it would on Windows.
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

#include "platform/emulated/emulated_control.h"
#include "platform/emulated/fault_injection.h"
#include "platform/shared_memory_writer.h"
#include "support/hresult.h"

namespace vz {
namespace emu {
namespace {

constexpr LONG ERROR_INVALID_ADDRESS = 487;
constexpr LONG ERROR_MAPPED_ALIGNMENT = 1132;
constexpr LONG ERROR_FILENAME_EXCED_RANGE = 206;
constexpr LONG ERROR_GEN_FAILURE = 31;

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

// A Windows mapping object lives while some process holds a handle to it; a
// POSIX object outlives a writer that was killed. The writer therefore holds a
// shared open-file-description lock on its object for as long as it lives (the
// kernel drops it with the process), and a reader that finds no such lock
// treats the name as gone, as Windows would once the last handle closed.
bool HoldWriterLock(int fd) {
    struct flock lock {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

bool WriterAlive(int fd) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(fd, F_OFD_GETLK, &lock) != 0) return true;  // cannot tell: keep the object
    return lock.l_type != F_UNLCK;
}

bool Fails(const char* function) {
    LONG error = 0;
    if (!detail::TakeFault(function, false, &error)) return false;
    plat::SetLastError(static_cast<DWORD>(error));
    return true;
}

}  // namespace

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

// The UTF-8 bytes of one code point (unpaired surrogates become U+FFFD).
std::size_t EncodeUtf8(char32_t cp, unsigned char bytes[4]) {
    if (cp < 0x80) {
        bytes[0] = static_cast<unsigned char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        bytes[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
        bytes[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp >= 0xD800 && cp < 0xE000) cp = 0xFFFD;
    if (cp < 0x10000) {
        bytes[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
        bytes[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        bytes[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 3;
    }
    bytes[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
    bytes[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
    bytes[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    bytes[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    return 4;
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
    for (const char16_t* at = name; *at != 0; ++at) {
        char32_t cp = *at;
        if (cp >= 0xD800 && cp < 0xDC00 && at[1] >= 0xDC00 && at[1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (at[1] - 0xDC00);
            ++at;
        }
        unsigned char bytes[4];
        const std::size_t count = EncodeUtf8(cp, bytes);
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
        SetLastError(emu::ERROR_MAPPED_ALIGNMENT);
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
    emu::Table().views[view] = View{size, reader};
    return view;
}

bool UnmapLocked(const void* view) {
    auto it = emu::Table().views.find(view);
    if (it == emu::Table().views.end()) {
        SetLastError(emu::ERROR_INVALID_ADDRESS);
        return false;
    }
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
    close(mapping->fd);
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
        SetLastError(emu::ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    const int fd = shm_open(object, write ? O_RDWR : O_RDONLY, 0);
    if (fd < 0) {
        SetLastError(emu::ErrorFromErrno(errno));
        return nullptr;
    }
    if (!emu::WriterAlive(fd)) {  // left behind by a writer that died
        close(fd);
        SetLastError(ERROR_FILE_NOT_FOUND);
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
        SetLastError(emu::ERROR_INVALID_ADDRESS);
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

DWORD GetAllocationGranularity() { return g_granularity; }

void* CreateWritableSharedMemory(const WCHAR* name, DWORD size, HANDLE* mappingOut) {
    if (mappingOut != nullptr) *mappingOut = nullptr;
    if (name == nullptr || *name == 0 || size == 0 || mappingOut == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    char object[emu::kMaxObjectName];
    if (!emu::FormatSharedMemoryObjectName(name, object, sizeof object)) {
        SetLastError(emu::ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    const int fd = shm_open(object, O_RDWR | O_CREAT, 0644);
    if (fd < 0) {
        SetLastError(emu::ErrorFromErrno(errno));
        return nullptr;
    }
    if (!emu::HoldWriterLock(fd) || ftruncate(fd, static_cast<off_t>(size)) != 0) {
        SetLastError(emu::ErrorFromErrno(errno));
        close(fd);
        return nullptr;
    }
    auto* mapping = new Mapping{fd, true, false, object};
    std::lock_guard<std::mutex> lock(emu::Table().mutex);
    emu::Table().mappings.insert(mapping);
    void* view = MapLocked(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, size, false);
    if (view == nullptr) {
        const DWORD error = GetLastError();
        shm_unlink(object);
        CloseLocked(reinterpret_cast<HANDLE>(mapping));
        SetLastError(error);
        return nullptr;
    }
    *mappingOut = reinterpret_cast<HANDLE>(mapping);
    return view;
}

void CloseWritableSharedMemory(HANDLE handle, void* view) {
    std::lock_guard<std::mutex> lock(emu::Table().mutex);
    if (view != nullptr) UnmapLocked(view);
    if (Mapping* mapping = FindMapping(handle)) {
        shm_unlink(mapping->objectName.c_str());
        CloseLocked(handle);
    }
}

}  // namespace plat

namespace emu {
void SetAllocationGranularityValue(DWORD granularity) {
    if (granularity != 0) plat::g_granularity = granularity;
}
}  // namespace emu
}  // namespace vz
