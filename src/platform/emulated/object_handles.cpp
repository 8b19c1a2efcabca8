#include "platform/emulated/object_handles.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vz {
namespace emu {
namespace {

bool Lock(int fd, short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;  // the whole object, whatever its size
    return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

bool SameObject(int a, int b) {
    struct stat first, second;
    return fstat(a, &first) == 0 && fstat(b, &second) == 0 && first.st_ino == second.st_ino &&
           first.st_dev == second.st_dev;
}

bool NameLeadsTo(const char* object, int fd) {
    const int named = shm_open(object, O_RDONLY, 0);
    if (named < 0) return false;
    const bool same = SameObject(fd, named);
    close(named);
    return same;
}

// Removes the name `object` when it still leads to the object `fd` was opened
// from and no handle holds it; `fd` itself must hold none.
void RemoveUnheldObject(const char* object, int fd) {
    // The exclusive lock needs a descriptor that may write: a reader of
    // another account, which may not remove the name either, just leaves.
    const int writable = shm_open(object, O_RDWR, 0);
    if (writable < 0) return;
    if (SameObject(fd, writable) && Lock(writable, F_WRLCK) && NameLeadsTo(object, writable))
        shm_unlink(object);
    close(writable);  // drops the exclusive lock, after the name went
}

}  // namespace

bool OtherHandleOpen(int fd) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(fd, F_OFD_GETLK, &lock) != 0) return true;
    return lock.l_type != F_UNLCK;
}

Join JoinObject(const char* object, int fd, bool created) {
    if (!created && !OtherHandleOpen(fd)) {
        RemoveUnheldObject(object, fd);
        close(fd);
        return Join::kGone;
    }
    if (Lock(fd, F_RDLCK)) {  // refused while a closer holds it to remove the name
        if (NameLeadsTo(object, fd)) return Join::kJoined;
        Lock(fd, F_UNLCK);
    }
    close(fd);
    return Join::kRetry;
}

int OpenObjectHandle(const char* object, int access) {
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        const int fd = shm_open(object, access, 0);
        if (fd < 0) return -1;
        const Join joined = JoinObject(object, fd, false);
        if (joined == Join::kJoined) return fd;
        if (joined == Join::kGone) break;
    }
    errno = ENOENT;
    return -1;
}

void CloseObjectHandle(const char* object, int fd) {
    Lock(fd, F_UNLCK);
    if (!OtherHandleOpen(fd)) RemoveUnheldObject(object, fd);
    close(fd);
}

}  // namespace emu
}  // namespace vz
