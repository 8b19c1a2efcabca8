// A private, consistent copy of one instance record: how it is taken, and what
// is read from it. The caller owns the memory the copy goes to (the collection
// uses a stack buffer for records up to kInlineSnapshotCapacity bytes and the
// heap above), so a snapshot is a plain view that costs nothing to hold.
//
// Everything here is inline: it runs once per record of every sample.
#pragma once
#include <atomic>
#include <cstring>

#include "sharedmem/byte_layout.h"
#include "support/small_copy.h"
#include "support/unit_terminator.h"
#include "support/types.h"

namespace vz {

// Records up to this size are copied to the stack; larger ones to the heap.
constexpr DWORD kInlineSnapshotCapacity = 1024;

class InstanceSnapshot {
public:
    // Copies recordSize bytes of `record` into `target`, which has room for
    // them, and returns the snapshot with whether it is usable: the copy
    // belongs to categoryId, kept its InstanceId across the copy and is not a
    // free record.
    static InstanceSnapshot Take(const BYTE* record, DWORD recordSize, DWORD categoryId,
                                 BYTE* target, bool* usable) noexcept;

    const BYTE* Data() const noexcept { return data_; }
    DWORD Size() const noexcept { return size_; }

    // The NUL-terminated UTF-16 name at NameOffset, when it and its terminator
    // lie inside the copy: *units gets its length without terminator.
    bool FindName(const BYTE** name, std::size_t* units) const noexcept;

private:
    InstanceSnapshot(const BYTE* data, DWORD size) noexcept : data_(data), size_(size) {}

    const BYTE* data_;
    DWORD size_;
};

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the name scan reads units little-endian");

inline InstanceSnapshot InstanceSnapshot::Take(const BYTE* record, DWORD recordSize,
                                               DWORD categoryId, BYTE* target,
                                               bool* usable) noexcept {
    *usable = false;
    const DWORD instanceId = LoadUnchecked(record, kInstanceIdOffset);
    // The copy must not be read ahead of the InstanceId it is checked against.
    std::atomic_thread_fence(std::memory_order_acquire);
    CopySmall(target, record, recordSize);
    const InstanceSnapshot snapshot(target, recordSize);
    if (recordSize < kRecordHeaderSize) return snapshot;
    // The copy reads the header before the body, so its own InstanceId cannot
    // tell whether the record changed hands while the body was copied; the
    // record's InstanceId read again after the copy can.
    std::atomic_thread_fence(std::memory_order_acquire);
    const DWORD instanceIdAfter = LoadUnchecked(record, kInstanceIdOffset);
    *usable = LoadUnchecked(target, kCategoryIdOffset) == categoryId &&
              LoadUnchecked(target, kInstanceIdOffset) == instanceId &&
              instanceIdAfter == instanceId &&
              LoadUnchecked(target, kUseCountOffset) != 0;
    return snapshot;
}

inline bool InstanceSnapshot::FindName(const BYTE** name, std::size_t* units) const noexcept {
    if (size_ < kRecordHeaderSize) return false;
    const DWORD offset = LoadUnchecked(data_, kNameOffsetOffset);
    if (offset > size_) return false;
    const BYTE* text = data_ + offset;
    if (!FindUnitTerminator(text, (size_ - offset) / 2, units)) return false;
    *name = text;
    return true;
}

}  // namespace vz
