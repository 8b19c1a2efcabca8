// A private, consistent copy of one instance record. Records up to 1024 bytes
// are copied into the object itself (a local of the renderer, so the common
// case allocates nothing); larger ones go to the heap and are freed with the
// snapshot.
#pragma once
#include "support/types.h"
#include "support/hresult.h"

namespace vz {

class InstanceSnapshot {
public:
    static constexpr DWORD kInlineCapacity = 1024;

    InstanceSnapshot() noexcept = default;
    InstanceSnapshot(const InstanceSnapshot&) = delete;
    InstanceSnapshot& operator=(const InstanceSnapshot&) = delete;
    ~InstanceSnapshot();

    // Copies recordSize bytes of `record`. *usable is true when the copy
    // belongs to categoryId, kept its InstanceId across the copy and is not a
    // free record. E_OUTOFMEMORY when no heap copy can be made; a size above
    // 0xFFFFFFFF - 8 raises CAtlException(E_INVALIDARG).
    HRESULT Take(const BYTE* record, DWORD recordSize, DWORD categoryId, bool* usable);

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
    alignas(8) BYTE inline_[kInlineCapacity];
    BYTE* heap_ = nullptr;
    const BYTE* data_ = nullptr;
    DWORD size_ = 0;
};

}  // namespace vz
