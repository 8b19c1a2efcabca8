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

// Whether a handle other than `fd`'s own holds the object (true when it cannot
// be told, so that nothing is removed on a doubt).
bool OtherHandleOpen(int fd);
// Makes `fd`, opened from the name `object`, a handle. False when the object is
// being removed or the name no longer leads to it: close `fd` and open again.
bool TakeHandle(const char* object, int fd);
// Opens a new handle to an existing object (access O_RDONLY or O_RDWR): -1 with
// errno set on failure, ENOENT when the name is missing or its last handle is
// gone (such a leftover is removed when this account may).
int OpenObjectHandle(const char* object, int access);
// Removes the name `object` when it still leads to the object `fd` was opened
// from and no handle holds it; `fd` itself must hold none. True when removed.
bool RemoveUnheldObject(const char* object, int fd);
// Ends the handle `fd` to `object`: the name goes when it was the last handle.
// Closes `fd`.
void CloseObjectHandle(const char* object, int fd);

}  // namespace emu
}  // namespace vz
