// A private, consistent copy of one instance record. Records up to 1024 bytes
// are copied into the object itself (a local of the renderer, so the common
// case allocates nothing); larger ones go to the heap and are freed with the
// snapshot.
//
// Take and FindName are inline: they run once per record of every sample.
#pragma once
#include <atomic>
#include <cstring>

#include "sharedmem/byte_layout.h"
#include "support/hresult.h"
#include "support/types.h"

namespace vz {

class InstanceSnapshot {
public:
    static constexpr DWORD kInlineCapacity = 1024;

    InstanceSnapshot() noexcept = default;
    InstanceSnapshot(const InstanceSnapshot&) = delete;
    InstanceSnapshot& operator=(const InstanceSnapshot&) = delete;
    ~InstanceSnapshot() {
        if (heap_ != nullptr) ReleaseHeap();
    }

    // Copies recordSize bytes of `record`. *usable is true when the copy
    // belongs to categoryId, kept its InstanceId across the copy and is not a
    // free record. E_OUTOFMEMORY when no heap copy can be made; a size above
    // 0xFFFFFFFF - 8 raises CAtlException(E_INVALIDARG).
    [[nodiscard]] HRESULT Take(const BYTE* record, DWORD recordSize, DWORD categoryId, bool* usable);

    const BYTE* Data() const noexcept { return data_; }
    DWORD Size() const noexcept { return size_; }

    // The NUL-terminated UTF-16 name at NameOffset, when it and its terminator
    // lie inside the copy: *units gets its length without terminator.
    bool FindName(const BYTE** name, std::size_t* units) const noexcept;
    // True when `bytes` bytes at `offset` lie inside the copy.
    bool Holds(ULONGLONG offset, ULONGLONG bytes) const noexcept {
        return offset <= size_ && bytes <= size_ - offset;
    }

private:
    // A heap buffer of `size` bytes for a record above kInlineCapacity (the
    // previous one released), or null. Raises CAtlException(E_INVALIDARG) for
    // a size above 0xFFFFFFFF - 8.
    BYTE* HeapTarget(DWORD size);
    void ReleaseHeap() noexcept;

    alignas(8) BYTE inline_[kInlineCapacity];
    BYTE* heap_ = nullptr;
    const BYTE* data_ = nullptr;
    DWORD size_ = 0;
};

namespace detail {

// A plain memcpy of a size the compiler knows to be at most 1024 is inlined by
// GCC as rep movs, whose start-up cost is most of the time a record of a couple
// of hundred bytes takes. Records of 128 to 256 bytes (the server's are 212)
// are copied as two overlapping fixed-size halves, in vector registers; other
// sizes go to the library's memcpy, with the bound hidden from the compiler.
inline void CopyRecord(BYTE* target, const BYTE* source, std::size_t size) {
    if (size >= 128 && size <= 256) {
        std::memcpy(target, source, 128);
        std::memcpy(target + size - 128, source + size - 128, 128);
        return;
    }
    asm("" : "+r"(size));
    std::memcpy(target, source, size);
}

}  // namespace detail

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the name scan reads units little-endian");

inline HRESULT InstanceSnapshot::Take(const BYTE* record, DWORD recordSize, DWORD categoryId,
                                      bool* usable) {
    *usable = false;
    const DWORD instanceId = LoadWord(record + kInstanceIdOffset);
    // The copy must not be read ahead of the InstanceId it is checked against.
    std::atomic_thread_fence(std::memory_order_acquire);
    BYTE* target = inline_;
    if (recordSize > kInlineCapacity) {
        target = HeapTarget(recordSize);
        if (target == nullptr) return E_OUTOFMEMORY;
    }
    detail::CopyRecord(target, record, recordSize);
    data_ = target;
    size_ = recordSize;
    if (recordSize < kRecordHeaderSize) return S_OK;
    // The copy reads the header before the body, so its own InstanceId cannot
    // tell whether the record changed hands while the body was copied; the
    // record's InstanceId read again after the copy can.
    std::atomic_thread_fence(std::memory_order_acquire);
    const DWORD instanceIdAfter = LoadWord(record + kInstanceIdOffset);
    *usable = LoadWord(target + kCategoryIdOffset) == categoryId &&
              LoadWord(target + kInstanceIdOffset) == instanceId &&
              instanceIdAfter == instanceId &&
              LoadWord(target + kUseCountOffset) != 0;
    return S_OK;
}

inline bool InstanceSnapshot::FindName(const BYTE** name, std::size_t* units) const noexcept {
    if (size_ < kRecordHeaderSize) return false;
    const DWORD offset = LoadWord(data_ + kNameOffsetOffset);
    if (offset > size_) return false;
    const BYTE* text = data_ + offset;
    const std::size_t available = (size_ - offset) / 2;
    std::size_t i = 0;
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
            *name = text;
            *units = i + static_cast<std::size_t>(__builtin_ctzll(zero)) / 16;
            return true;
        }
    }
    for (; i < available; ++i) {
        WCHAR unit;
        std::memcpy(&unit, text + 2 * i, sizeof unit);
        if (unit == 0) {
            *name = text;
            *units = i;
            return true;
        }
    }
    return false;
}

}  // namespace vz
