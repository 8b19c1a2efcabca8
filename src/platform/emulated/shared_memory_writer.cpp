// Provider-side blocks and the publisher claim over POSIX shared memory. A
// block's handle carries its descriptor; the claim is an exclusive flock on an
// object of its own, which the kernel drops when the holding process ends,
// however it ends. The claim also carries the writer's shared lock, which
// readers test (PublisherClaimHeld) without touching the flock.
#include "platform/shared_memory_writer.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/emulated/emulated_control.h"
#include "support/hresult.h"

namespace vz {
namespace plat {

namespace {

struct WriterObject {
    int fd;
    std::size_t size;
    std::string objectName;
};

bool ObjectName(const WCHAR* name, char (&object)[emu::kMaxObjectName]) {
    if (name == nullptr || *name == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (!emu::FormatSharedMemoryObjectName(name, object, sizeof object)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    return true;
}

// Readers take an object without this lock for one left behind by a writer
// that died (file_mapping.cpp); the kernel drops it with the process.
bool HoldWriterLock(int fd) {
    struct flock lock {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

void FailWithErrno(int fd) {
    SetLastError(static_cast<DWORD>(emu::ErrorFromErrno(errno)));
    if (fd >= 0) close(fd);
}

}  // namespace

void* CreateWritableSharedMemory(const WCHAR* name, DWORD size, HANDLE* mappingOut) {
    if (mappingOut != nullptr) *mappingOut = nullptr;
    char object[emu::kMaxObjectName];
    if (size == 0 || mappingOut == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!ObjectName(name, object)) return nullptr;
    const int fd = shm_open(object, O_RDWR | O_CREAT, 0644);
    struct stat info;
    if (fd < 0 || !HoldWriterLock(fd) || fstat(fd, &info) != 0) {
        FailWithErrno(fd);
        return nullptr;
    }
    // Never shrink an object that a reader may still have mapped.
    if (static_cast<std::uint64_t>(info.st_size) < size &&
        ftruncate(fd, static_cast<off_t>(size)) != 0) {
        FailWithErrno(fd);
        return nullptr;
    }
    void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED) {
        FailWithErrno(fd);
        return nullptr;
    }
    *mappingOut = reinterpret_cast<HANDLE>(new WriterObject{fd, size, object});
    return view;
}

void CloseWritableSharedMemory(HANDLE mapping, void* view) {
    auto* object = reinterpret_cast<WriterObject*>(mapping);
    if (object == nullptr) return;
    if (view != nullptr) munmap(view, object->size);
    shm_unlink(object->objectName.c_str());
    close(object->fd);
    delete object;
}

// The claim object is removed by its holder before it lets go. A publisher that
// opened the object just before that removal may lock the removed one: it
// checks that the name still leads to the object it locked, and tries again.
HANDLE ClaimPublisherName(const WCHAR* name) {
    char object[emu::kMaxObjectName];
    if (!ObjectName(name, object)) return nullptr;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd = shm_open(object, O_RDWR | O_CREAT, 0644);
        if (fd < 0) {
            FailWithErrno(fd);
            return nullptr;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const bool busy = errno == EWOULDBLOCK;
            FailWithErrno(fd);
            if (busy) SetLastError(kErrorBusy);
            return nullptr;
        }
        const int current = shm_open(object, O_RDWR, 0);
        struct stat locked, named;
        const bool same = current >= 0 && fstat(fd, &locked) == 0 &&
                          fstat(current, &named) == 0 && locked.st_ino == named.st_ino &&
                          locked.st_dev == named.st_dev;
        if (current >= 0) close(current);
        if (same && !HoldWriterLock(fd)) {
            FailWithErrno(fd);
            return nullptr;
        }
        if (same) return reinterpret_cast<HANDLE>(new WriterObject{fd, 0, object});
        close(fd);
    }
    SetLastError(kErrorBusy);
    return nullptr;
}

void ReleasePublisherClaim(HANDLE claim) {
    auto* object = reinterpret_cast<WriterObject*>(claim);
    if (object == nullptr) return;
    shm_unlink(object->objectName.c_str());
    close(object->fd);  // drops the lock
    delete object;
}

}  // namespace plat
}  // namespace vz
