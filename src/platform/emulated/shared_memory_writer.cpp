// Provider-side blocks and the publisher claim over POSIX shared memory. A
// block's handle carries its descriptor, a handle to the object like a
// reader's (object_handles.h); the claim is an exclusive flock on an object of
// its own, which the kernel drops when the holding process ends, however it
// ends. The claim's object handle is what readers test (PublisherClaimHeld)
// without touching the flock.
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
#include "platform/emulated/object_handles.h"
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

// Opens or creates the object read-write as a new handle to it, and refuses it
// with kErrorNotOwner when it is not this account's own; -1 on failure, with
// the error set.
int OpenOwnObject(const char* object, struct stat* info) {
    for (int attempt = 0; attempt < emu::kOpenAttempts; ++attempt) {
        int fd = shm_open(object, O_RDWR | O_CREAT | O_EXCL, 0644);
        const bool created = fd >= 0;
        if (!created && errno == EEXIST) fd = shm_open(object, O_RDWR, 0);
        if (fd < 0 && errno == ENOENT) continue;  // removed in between
        if (fd < 0) {
            const int error = errno;
            // An object this account may not even open for writing exists and
            // is another's.
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
        // One whose every handle is gone (its publisher was killed) is gone
        // too, as on Windows: a new, zero-filled object takes the name.
        if (emu::JoinObject(object, fd, created) == emu::Join::kJoined) return fd;
    }
    SetLastError(kErrorBusy);
    return -1;
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
    // Never shrink an object that a reader may still have mapped.
    if (static_cast<std::uint64_t>(info.st_size) < size &&
        ftruncate(fd, static_cast<off_t>(size)) != 0) {
        FailWithErrno("ftruncate", -1);
        emu::CloseObjectHandle(object, fd);
        return nullptr;
    }
    void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED) {
        FailWithErrno("mmap", -1);
        emu::CloseObjectHandle(object, fd);
        return nullptr;
    }
    *mappingOut = reinterpret_cast<HANDLE>(new WriterObject{fd, size, object});
    return view;
}

void CloseWritableSharedMemory(HANDLE mapping, void* view) {
    auto* object = reinterpret_cast<WriterObject*>(mapping);
    if (object == nullptr) return;
    if (view != nullptr) munmap(view, object->size);
    emu::CloseObjectHandle(object->objectName.c_str(), object->fd);
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

// The claimant holds a handle to the claim object before it takes the flock,
// so a holder that lets go meanwhile keeps the name (object_handles.h): the
// object it locks is the one the name leads to.
HANDLE ClaimPublisherName(const WCHAR* name) {
    char object[emu::kMaxObjectName];
    if (!ObjectName(name, object)) return nullptr;
    struct stat info;
    const int fd = OpenOwnObject(object, &info);
    if (fd < 0) return nullptr;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool busy = errno == EWOULDBLOCK;
        FailWithErrno("flock", -1);
        emu::CloseObjectHandle(object, fd);
        if (busy) SetLastError(kErrorBusy);
        return nullptr;
    }
    return reinterpret_cast<HANDLE>(new WriterObject{fd, 0, object});
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
    emu::CloseObjectHandle(object->objectName.c_str(), object->fd);  // drops the flock last
    delete object;
}

}  // namespace plat
}  // namespace vz
