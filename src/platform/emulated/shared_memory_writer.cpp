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
#include <cstdio>
#include <cstring>
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

void FailWithErrno(const char* call, int fd) {
    const int error = errno;
    RecordWriterFailure(call, static_cast<unsigned long>(error));
    SetLastError(static_cast<DWORD>(emu::ErrorFromErrno(error)));
    if (fd >= 0) close(fd);
}

// An object of this account that nobody else may write: one that another
// uid made, or that its group or others may write, was not made by a
// publisher of this account and may be read or changed by whoever made it.
bool OwnedHere(const struct stat& info) {
    return info.st_uid == geteuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Opens or creates the object read-write and refuses it with kErrorNotOwner
// when it is not this account's own; -1 on failure, with the error set.
int OpenOwnObject(const char* object, struct stat* info) {
    const int fd = shm_open(object, O_RDWR | O_CREAT, 0644);
    if (fd < 0) {
        const int error = errno;
        // An object this account may not even open for writing exists and is
        // another's.
        const int existing = error == EACCES ? shm_open(object, O_RDONLY, 0) : -1;
        const bool foreign = existing >= 0 && fstat(existing, info) == 0 && !OwnedHere(*info);
        if (existing >= 0) close(existing);
        errno = error;
        FailWithErrno("shm_open", -1);
        if (foreign) SetLastError(kErrorNotOwner);
        return -1;
    }
    if (fstat(fd, info) != 0) {
        FailWithErrno("fstat", fd);
        return -1;
    }
    if (!OwnedHere(*info)) {
        close(fd);
        SetLastError(kErrorNotOwner);
        return -1;
    }
    return fd;
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
    struct stat info;
    const int fd = OpenOwnObject(object, &info);
    if (fd < 0) return nullptr;
    if (!HoldWriterLock(fd)) {
        FailWithErrno("fcntl(F_OFD_SETLK)", fd);
        return nullptr;
    }
    // Never shrink an object that a reader may still have mapped.
    if (static_cast<std::uint64_t>(info.st_size) < size &&
        ftruncate(fd, static_cast<off_t>(size)) != 0) {
        FailWithErrno("ftruncate", fd);
        return nullptr;
    }
    void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED) {
        FailWithErrno("mmap", fd);
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

bool RemoveLeftSharedMemory(const WCHAR* name) {
    char object[emu::kMaxObjectName];
    if (!ObjectName(name, object)) return false;
    const int fd = shm_open(object, O_RDONLY, 0);
    if (fd < 0) return false;
    struct stat info;
    const bool own = fstat(fd, &info) == 0 && OwnedHere(info);
    close(fd);
    return own && shm_unlink(object) == 0;
}

// The claim object is removed by its holder before it lets go. A publisher that
// opened the object just before that removal may lock the removed one: it
// checks that the name still leads to the object it locked, and tries again.
HANDLE ClaimPublisherName(const WCHAR* name) {
    char object[emu::kMaxObjectName];
    if (!ObjectName(name, object)) return nullptr;
    for (int attempt = 0; attempt < 8; ++attempt) {
        struct stat info;
        const int fd = OpenOwnObject(object, &info);
        if (fd < 0) return nullptr;
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const bool busy = errno == EWOULDBLOCK;
            FailWithErrno("flock", fd);
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
            FailWithErrno("fcntl(F_OFD_SETLK)", fd);
            return nullptr;
        }
        if (same) return reinterpret_cast<HANDLE>(new WriterObject{fd, 0, object});
        close(fd);
    }
    SetLastError(kErrorBusy);
    return nullptr;
}

void SystemErrorText(unsigned long code, char* text, std::size_t size) {
    if (size == 0) return;
    char buffer[256];
    // The GNU strerror_r: its sentence may be static and not in `buffer`.
    const char* sentence = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
    std::snprintf(text, size, "%s", sentence);
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
