#include "sharedmem/instance_snapshot.h"

#include "support/allocation.h"
#include "support/atl_exception.h"

namespace vz {

void InstanceSnapshot::ReleaseHeap() noexcept {
    FreeMemory(heap_);
    heap_ = nullptr;
}

BYTE* InstanceSnapshot::HeapTarget(DWORD size) {
    if (size > 0xFFFFFFFFu - 8) ATL::AtlThrow(E_INVALIDARG);
    FreeMemory(heap_);
    heap_ = static_cast<BYTE*>(AllocateRaw(size));
    return heap_;
}

}  // namespace vz
