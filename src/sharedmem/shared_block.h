// One open block of the provider's shared-memory chain: a read-only view of
// one allocation-granularity unit from offset 0 of a named file mapping.
#pragma once
#include "objectmap/perfmon.h"

namespace vz {

class CSharedBlock {
public:
    CSharedBlock() noexcept = default;
    CSharedBlock(const CSharedBlock&) = delete;
    CSharedBlock& operator=(const CSharedBlock&) = delete;
    ~CSharedBlock() { UnmapBlock(); }

    // Heap records go through the library's allocator; null when it fails.
    static CSharedBlock* Create() noexcept;
    static void Destroy(CSharedBlock* block) noexcept;

    // Opens the mapping `name` and maps `size` bytes at the offset; the
    // arguments follow MapViewOfFileEx's order.
    [[nodiscard]] HRESULT MapBlock(const WCHAR* name, DWORD access, DWORD offsetHigh,
                                   DWORD offsetLow, DWORD size);
    HRESULT UnmapBlock() noexcept;  // cleanup: the destructor ignores its result
    // Moves the view and mapping of `other` into this record, leaving `other` empty.
    void TakeOver(CSharedBlock& other) noexcept;

    const BYTE* Bytes() const noexcept { return static_cast<const BYTE*>(View); }

    void* View = nullptr;
    DWORD ViewSize = 0;
    plat::HANDLE Mapping = nullptr;
    ULONGLONG ViewOffset = 0;
    DWORD Access = 0;
};

}  // namespace vz
