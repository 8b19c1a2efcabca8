// The registry file that processes share (VUDOZID_REGISTRY), kept the way a
// registry behaves across processes:
//
// - Every call looks at the file first: one stat() compares it with the
//   version in memory, and a replaced or edited file is read again. The
//   version read stays open, so its inode cannot be reused by a later file
//   and an unchanged identity really means an unchanged file.
// - Every change replaces the file atomically: the whole tree goes to a
//   temporary file in the same folder, which is synced and renamed over the
//   old one. Readers need no lock; a crash leaves the old or the new file.
// - Writers take an exclusive flock on "<file>.lock" for each change. A
//   transaction holds it for a sequence of changes; the process's other
//   copies of this layer (a loaded library carries its own) see the holder's
//   process id in VUDOZID_REGISTRY_HOLDER and do not wait for themselves.
// - A file that does not parse is never written: the tree stays empty, every
//   registry call fails with ERROR_BADDB and RegistryFileProblem() says where
//   and why, until the file is repaired or replaced.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/emulated/emulated_control.h"
#include "platform/emulated/registry_tree.h"
#include "support/hresult.h"

namespace vz {
namespace emu {
namespace detail {
namespace {

const char kHolderVariable[] = "VUDOZID_REGISTRY_HOLDER";

struct Store {
    bool initialized = false;
    std::string file;      // empty: the registry lives in memory only
    int loadedFd = -1;     // the version in memory, kept open
    struct stat loaded {};
    bool loadedAbsent = false;  // memory stands for "no file"
    std::string problem;   // the file's damage, empty when sound
    int lockFd = -1;
    int fileLocks = 0;     // changes in progress holding the flock
    int transactions = 0;  // transactions of this copy
    bool holdsTransaction = false;  // this copy took the flock for them
};

Store& TheStore() {
    static Store store;
    return store;
}

void Initialize(Store& store) {
    if (store.initialized) return;
    store.initialized = true;
    const char* file = std::getenv("VUDOZID_REGISTRY");
    if (file != nullptr) store.file = file;
}

bool SameVersion(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

void Forget(Store& store) {
    if (store.loadedFd >= 0) close(store.loadedFd);
    store.loadedFd = -1;
    store.loaded = {};
    store.loadedAbsent = false;
}

bool ReadAll(int fd, std::string* bytes) {
    bytes->clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n == 0) return true;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        bytes->append(buffer, static_cast<std::size_t>(n));
    }
}

bool ProcessHoldsRegistry() {
    const char* holder = std::getenv(kHolderVariable);
    return holder != nullptr && std::to_string(getpid()) == holder;
}

LONG OpenLockFile(Store& store) {
    if (store.lockFd >= 0) return ERROR_SUCCESS;
    store.lockFd = open((store.file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    return store.lockFd >= 0 ? ERROR_SUCCESS : ErrorFromErrno(errno);
}

LONG Flock(int fd, int operation) {
    while (flock(fd, operation) != 0)
        if (errno != EINTR) return ErrorFromErrno(errno);
    return ERROR_SUCCESS;
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void SyncFolder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

}  // namespace

int ReplaceFile(const std::string& path, const std::string& bytes, const struct stat* old) {
    static unsigned counter = 0;
    const std::string temporary =
        path + ".tmp." + std::to_string(getpid()) + "." + std::to_string(++counter);
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    const bool written = (old == nullptr || fchmod(fd, old->st_mode & 07777) == 0) &&
                         WriteAll(fd, bytes) && fsync(fd) == 0 &&
                         std::rename(temporary.c_str(), path.c_str()) == 0;
    if (!written) {
        unlink(temporary.c_str());
        close(fd);
        return -1;
    }
    SyncFolder(path);
    return fd;
}

LONG RefreshLocked() {
    Store& store = TheStore();
    Initialize(store);
    if (store.file.empty()) return ERROR_SUCCESS;
    struct stat now {};
    if (stat(store.file.c_str(), &now) != 0) {
        if (errno != ENOENT) return ErrorFromErrno(errno);
        if (!store.loadedAbsent) {  // no file: an empty registry
            Forget(store);
            store.loadedAbsent = true;
            store.problem.clear();
            ClearLocked();
            RebindHandlesLocked();
        }
        return ERROR_SUCCESS;
    }
    if (store.loadedFd >= 0 && SameVersion(now, store.loaded))
        return store.problem.empty() ? ERROR_SUCCESS : kErrorBadDb;
    const int fd = open(store.file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? RefreshLocked() : ErrorFromErrno(errno);
    std::string bytes, error;
    if (fstat(fd, &now) != 0 || !ReadAll(fd, &bytes)) {
        const LONG e = ErrorFromErrno(errno);
        close(fd);
        return e;
    }
    Forget(store);
    store.loadedFd = fd;
    store.loaded = now;
    ClearLocked();
    if (ImportFileLocked(bytes, &error)) {
        store.problem.clear();
    } else {
        store.problem = store.file + ": " + error;
        ClearLocked();
    }
    RebindHandlesLocked();
    return store.problem.empty() ? ERROR_SUCCESS : kErrorBadDb;
}

LONG LockFileLocked() {
    Store& store = TheStore();
    Initialize(store);
    if (store.file.empty() || store.transactions > 0 || ProcessHoldsRegistry()) return ERROR_SUCCESS;
    if (LONG e = OpenLockFile(store)) return e;
    if (LONG e = Flock(store.lockFd, LOCK_EX)) return e;
    ++store.fileLocks;
    return ERROR_SUCCESS;
}

void UnlockFileLocked() {
    Store& store = TheStore();
    if (store.fileLocks == 0) return;
    if (--store.fileLocks == 0 && store.transactions == 0) Flock(store.lockFd, LOCK_UN);
}

LONG CommitLocked() {
    Store& store = TheStore();
    if (store.file.empty()) return ERROR_SUCCESS;
    const bool hadFile = store.loadedFd >= 0;
    const int fd = ReplaceFile(store.file, ExportAllLocked(), hadFile ? &store.loaded : nullptr);
    struct stat now {};
    if (fd < 0 || fstat(fd, &now) != 0) {
        if (fd >= 0) close(fd);
        Forget(store);  // the next call reads the file again: memory goes back to it
        return kErrorRegistryIoFailed;
    }
    Forget(store);
    store.loadedFd = fd;
    store.loaded = now;
    return ERROR_SUCCESS;
}

}  // namespace detail
}  // namespace emu

namespace plat {

std::string RegistryFileProblem() {
    std::lock_guard<std::mutex> lock(emu::detail::RegistryMutex());
    emu::detail::RefreshLocked();
    return emu::detail::TheStore().problem;
}

bool BeginRegistryTransaction() {
    std::lock_guard<std::mutex> lock(emu::detail::RegistryMutex());
    emu::detail::Store& store = emu::detail::TheStore();
    emu::detail::Initialize(store);
    if (store.file.empty() || store.transactions > 0 || emu::detail::ProcessHoldsRegistry()) {
        ++store.transactions;
        return true;
    }
    if (emu::detail::OpenLockFile(store) != ERROR_SUCCESS ||
        emu::detail::Flock(store.lockFd, LOCK_EX) != ERROR_SUCCESS)
        return false;
    ++store.transactions;
    store.holdsTransaction = true;
    setenv(emu::detail::kHolderVariable, std::to_string(getpid()).c_str(), 1);
    return true;
}

void EndRegistryTransaction() {
    std::lock_guard<std::mutex> lock(emu::detail::RegistryMutex());
    emu::detail::Store& store = emu::detail::TheStore();
    if (store.transactions == 0 || --store.transactions > 0) return;
    if (!store.holdsTransaction) return;
    store.holdsTransaction = false;
    unsetenv(emu::detail::kHolderVariable);
    emu::detail::Flock(store.lockFd, LOCK_UN);
}

}  // namespace plat
}  // namespace vz
