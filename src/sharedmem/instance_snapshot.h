// A private, consistent copy of one instance record: how it is taken, and what
// is read from it. The caller owns the memory the copy goes to (the collection
// uses a stack buffer for records up to kInlineSnapshotCapacity bytes and the
// heap above), so a snapshot is a plain view that costs nothing to hold.
//
// Everything here is inline: it runs once per record of every sample.
#pragma once
#include <atomic>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "sharedmem/byte_layout.h"
#include "support/small_copy.h"
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
    const DWORD instanceId = LoadWord(record + kInstanceIdOffset);
    // The copy must not be read ahead of the InstanceId it is checked against.
    std::atomic_thread_fence(std::memory_order_acquire);
    CopySmall(target, record, recordSize);
    const InstanceSnapshot snapshot(target, recordSize);
    if (recordSize < kRecordHeaderSize) return snapshot;
    // The copy reads the header before the body, so its own InstanceId cannot
    // tell whether the record changed hands while the body was copied; the
    // record's InstanceId read again after the copy can.
    std::atomic_thread_fence(std::memory_order_acquire);
    const DWORD instanceIdAfter = LoadWord(record + kInstanceIdOffset);
    *usable = LoadWord(target + kCategoryIdOffset) == categoryId &&
              LoadWord(target + kInstanceIdOffset) == instanceId &&
              instanceIdAfter == instanceId &&
              LoadWord(target + kUseCountOffset) != 0;
    return snapshot;
}

// The position of the first zero UTF-16 unit among the `available` units at
// `text`: false when there is none. Reads nothing past those units.
inline bool FindUnitTerminator(const BYTE* text, std::size_t available,
                               std::size_t* units) noexcept {
    std::size_t i = 0;
#if defined(__SSE2__)
    // Eight units at a time where the machine has 16-byte vectors.
    const __m128i zeroUnits = _mm_setzero_si128();
    for (; i + 8 <= available; i += 8) {
        const __m128i units8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 2 * i));
        const unsigned zeroBytes =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(units8, zeroUnits)));
        if (zeroBytes != 0) {
            *units = i + static_cast<std::size_t>(__builtin_ctz(zeroBytes)) / 2;
            return true;
        }
    }
#endif
    // Four units at a time. The lowest lane that (w - 0x0001...) & ~w &
    // 0x8000... flags is the first zero unit: a borrow only runs upwards, into
    // later units on a little-endian machine, so it can flag lanes after the
    // first zero but none before it.
    for (; i + 4 <= available; i += 4) {
        ULONGLONG word;
        std::memcpy(&word, text + 2 * i, sizeof word);
        const ULONGLONG zero =
            (word - 0x0001000100010001ull) & ~word & 0x8000800080008000ull;
        if (zero != 0) {
            *units = i + static_cast<std::size_t>(__builtin_ctzll(zero)) / 16;
            return true;
        }
    }
    for (; i < available; ++i) {
        WCHAR unit;
        std::memcpy(&unit, text + 2 * i, sizeof unit);
        if (unit == 0) {
            *units = i;
            return true;
        }
    }
    return false;
}

inline bool InstanceSnapshot::FindName(const BYTE** name, std::size_t* units) const noexcept {
    if (size_ < kRecordHeaderSize) return false;
    const DWORD offset = LoadWord(data_ + kNameOffsetOffset);
    if (offset > size_) return false;
    const BYTE* text = data_ + offset;
    if (!FindUnitTerminator(text, (size_ - offset) / 2, units)) return false;
    *name = text;
    return true;
}

}  // namespace vz
