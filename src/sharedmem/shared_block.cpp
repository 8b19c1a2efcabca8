#include "sharedmem/shared_block.h"

#include <new>

#include "support/allocation.h"

namespace vz {

CSharedBlock* CSharedBlock::Create() noexcept {
    void* raw = AllocateRaw(sizeof(CSharedBlock));
    return raw == nullptr ? nullptr : new (raw) CSharedBlock();
}

void CSharedBlock::Destroy(CSharedBlock* block) noexcept {
    if (block == nullptr) return;
    block->~CSharedBlock();
    FreeMemory(block);
}

HRESULT CSharedBlock::MapBlock(const WCHAR* name, DWORD access, DWORD offsetHigh,
                               DWORD offsetLow, DWORD size) {
    ViewSize = size;
    Access = access;
    Mapping = plat::OpenFileMappingW(access, 0, name);
    if (Mapping == nullptr) return HResultFromLastError();
    ViewOffset = (static_cast<ULONGLONG>(offsetHigh) << 32) | offsetLow;
    View = plat::MapViewOfFileEx(Mapping, access, offsetHigh, offsetLow, size, nullptr);
    if (View == nullptr) {
        HRESULT hr = HResultFromLastError();
        plat::CloseHandle(Mapping);
        Mapping = nullptr;
        return hr;
    }
    return S_OK;
}

HRESULT CSharedBlock::UnmapBlock() noexcept {
    HRESULT hr = S_OK;
    if (View != nullptr) {
        if (!plat::UnmapViewOfFile(View)) hr = HResultFromLastError();
        View = nullptr;
    }
    if (Mapping != nullptr) {
        if (!plat::CloseHandle(Mapping) && Succeeded(hr)) hr = HResultFromLastError();
        Mapping = nullptr;
    }
    return hr;
}

void CSharedBlock::TakeOver(CSharedBlock& other) noexcept {
    UnmapBlock();
    View = other.View;
    ViewSize = other.ViewSize;
    Mapping = other.Mapping;
    ViewOffset = other.ViewOffset;
    Access = other.Access;
    other.View = nullptr;
    other.Mapping = nullptr;
}

}  // namespace vz
