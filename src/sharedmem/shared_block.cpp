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
    viewSize = size;
    this->access = access;
    mapping = plat::OpenFileMappingW(access, 0, name);
    if (mapping == nullptr) return HResultFromLastError();
    viewOffset = (static_cast<ULONGLONG>(offsetHigh) << 32) | offsetLow;
    view = plat::MapViewOfFileEx(mapping, access, offsetHigh, offsetLow, size, nullptr);
    if (view == nullptr) {
        HRESULT hr = HResultFromLastError();
        plat::CloseHandle(mapping);
        mapping = nullptr;
        return hr;
    }
    return S_OK;
}

HRESULT CSharedBlock::UnmapBlock() noexcept {
    HRESULT hr = S_OK;
    if (view != nullptr) {
        if (!plat::UnmapViewOfFile(view)) hr = HResultFromLastError();
        view = nullptr;
    }
    if (mapping != nullptr) {
        if (!plat::CloseHandle(mapping) && Succeeded(hr)) hr = HResultFromLastError();
        mapping = nullptr;
    }
    return hr;
}

void CSharedBlock::TakeOver(CSharedBlock& other) noexcept {
    UnmapBlock();
    view = other.view;
    viewSize = other.viewSize;
    mapping = other.mapping;
    viewOffset = other.viewOffset;
    access = other.access;
    other.view = nullptr;
    other.mapping = nullptr;
}

}  // namespace vz
