// Handles to named shared-memory objects, with the lifetime Windows gives a
// named file mapping: the name lives while any handle to the object is open, in
// any process, and goes with the last one.
//
// Every handle holds a shared open-file-description lock on the whole object.
// The kernel drops it with the descriptor however the process ends, as Windows
// closes a dead process's handles, so an object that nobody locks has lost its
// last handle (its holder was killed) and counts as gone. A child forked
// without exec shares its parent's descriptors, and so its handles, as an
// inherited handle would be shared on Windows.
//
// Why the order is safe: a name is removed only by whoever holds the exclusive
// lock on its object (which no handle can then take) and has seen, after taking
// it, that the name still leads to that object. A new handle first takes its
// shared lock, then checks that the name still leads to its object: either its
// lock came first and no closer can remove the name, or the name went before
// and it opens it again. A closer drops its own lock before it tries the
// exclusive one, so of two last closers at once one removes the name.
#pragma once

namespace vz {
namespace emu {

// How often an open is tried when the object met was being removed or
// replaced meanwhile.
constexpr int kOpenAttempts = 8;

// Whether a handle other than `fd`'s own holds the object (true when it cannot
// be told, so that nothing is removed on a doubt).
bool OtherHandleOpen(int fd);

enum class Join { kJoined, kGone, kRetry };
// Makes `fd`, just opened from the name `object`, a handle to the object, or
// closes it: kGone when the object had lost its last handle (its holder was
// killed; the name is removed when this account may), kRetry when it was being
// removed or the name moved on meanwhile (open again). An object `created` by
// this open has no handle yet and is never gone.
Join JoinObject(const char* object, int fd, bool created);
// Opens a new handle to an existing object (access O_RDONLY or O_RDWR): -1 with
// errno set on failure, ENOENT when the name is missing or its last handle is
// gone (such a leftover is removed when this account may).
int OpenObjectHandle(const char* object, int access);
// Ends the handle `fd` to `object`: the name goes when it was the last handle.
// Closes `fd`.
void CloseObjectHandle(const char* object, int fd);

}  // namespace emu
}  // namespace vz
