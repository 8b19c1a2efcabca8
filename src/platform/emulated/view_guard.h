// Unlike a Windows section, a POSIX shared-memory object can shrink under its
// views: a provider that truncates its object would kill the reader with
// SIGBUS at the next read past the new end. Reader views are therefore kept
// in a table that a SIGBUS handler searches without locking; for a fault
// inside one of them the handler maps zero pages over the rest of the view and
// marks it broken. A zero RecordSize ends the instance walk, so such a block
// yields no instances until the reader closes its blocks and maps them again.
// Faults anywhere else go to the handler that was installed before this one.
#pragma once
#include <cstddef>

namespace vz {
namespace emu {

// Puts a view under the guard (installing the handler at first use); false
// when the handler cannot be installed or the table of views is full.
bool GuardReaderView(const void* view, std::size_t size);
// Before the view is unmapped.
void UnguardReaderView(const void* view);

}  // namespace emu
}  // namespace vz
