#include "sharedmem/instance_snapshot.h"

#include <atomic>
#include <cstring>

#include "sharedmem/byte_layout.h"
#include "support/allocation.h"
#include "support/atl_exception.h"

namespace vz {

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
    std::memcpy(target, record, recordSize);
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
    const std::size_t available = (size_ - offset) / 2;
    for (std::size_t i = 0; i < available; ++i) {
        WCHAR unit;
        std::memcpy(&unit, data_ + offset + 2 * i, sizeof unit);
        if (unit == 0) {
            *name = data_ + offset;
            *units = i;
            return true;
        }
    }
    return false;
}

}  // namespace vz
