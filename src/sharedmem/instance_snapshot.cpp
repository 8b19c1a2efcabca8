#include "sharedmem/instance_snapshot.h"

#include <atomic>
#include <cstring>

#include "sharedmem/byte_layout.h"
#include "support/allocation.h"
#include "support/atl_exception.h"

namespace vz {
namespace {

// A plain memcpy of a size the compiler knows to be at most 1024 is inlined by
// GCC as rep movs, whose start-up cost is most of the time a record of a couple
// of hundred bytes takes. Records of 128 to 256 bytes (the server's are 212)
// are copied as two overlapping fixed-size halves, in vector registers; other
// sizes go to the library's memcpy, with the bound hidden from the compiler.
void CopyRecord(BYTE* target, const BYTE* source, std::size_t size) {
    if (size >= 128 && size <= 256) {
        std::memcpy(target, source, 128);
        std::memcpy(target + size - 128, source + size - 128, 128);
        return;
    }
    asm("" : "+r"(size));
    std::memcpy(target, source, size);
}

}  // namespace

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the name scan reads units little-endian");

InstanceSnapshot::~InstanceSnapshot() {
    if (heap_ != nullptr) FreeMemory(heap_);
}

HRESULT InstanceSnapshot::Take(const BYTE* record, DWORD recordSize, DWORD categoryId,
                               bool* usable) {
    *usable = false;
    const DWORD instanceId = LoadWord(record + kInstanceIdOffset);
    // The copy must not be read ahead of the InstanceId it is checked against.
    std::atomic_thread_fence(std::memory_order_acquire);
    BYTE* target = inline_;
    if (recordSize > kInlineCapacity) {
        if (recordSize > 0xFFFFFFFFu - 8) ATL::AtlThrow(E_INVALIDARG);
        FreeMemory(heap_);
        heap_ = static_cast<BYTE*>(AllocateRaw(recordSize));
        if (heap_ == nullptr) return E_OUTOFMEMORY;
        target = heap_;
    }
    CopyRecord(target, record, recordSize);
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

bool InstanceSnapshot::FindName(const BYTE** name, std::size_t* units) const noexcept {
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
