// The walk over the instance records of all open blocks that belong to one
// category. It reads RecordSize and CategoryId straight from the views and
// never reads outside a view. Inline: it runs once per record of every sample.
//
// Records are stepped over by their RecordSize. A record smaller than its
// 20-byte header, or whose RecordSize would take the cursor past the end of
// the view, cannot be stepped over safely: it ends the walk (the records
// before it are kept). A cursor too close to the view's end to hold a
// RecordSize word ends it too.
#pragma once
#include "objectmap/perfmon.h"
#include "sharedmem/byte_layout.h"
#include "sharedmem/shared_block.h"

namespace vz {

class InstanceWalk {
public:
    InstanceWalk(ATL::CPerfMon& monitor, DWORD categoryId) noexcept
        : monitor_(monitor), categoryId_(categoryId) {}

    // S_OK: *record and *recordSize give the next record whose CategoryId
    // matched (recordSize is the value that was checked against the view and
    // is the only size the caller may copy). S_FALSE: the walk has ended.
    // E_FAIL: an end-of-block mark stood first in a block. NextBlock may raise
    // CAtlException for a broken block number.
    [[nodiscard]] HRESULT Next(const BYTE** record, DWORD* recordSize);

private:
    bool EnterBlock(CSharedBlock* block) noexcept;
    bool StepOver(DWORD recordSize);
    bool RoomForRecordSize() const noexcept {
        return viewEnd_ - cursor_ >= static_cast<std::ptrdiff_t>(kEndMarkSize);
    }

    ATL::CPerfMon& monitor_;
    DWORD categoryId_;
    CSharedBlock* block_ = nullptr;
    const BYTE* cursor_ = nullptr;
    const BYTE* viewEnd_ = nullptr;
    DWORD pendingStep_ = 0;  // size of the record handed out last
    bool started_ = false;
    bool ended_ = false;
};

inline bool InstanceWalk::EnterBlock(CSharedBlock* block) noexcept {
    block_ = block;
    if (block == nullptr || block->View == nullptr ||
        static_cast<ULONGLONG>(monitor_.instanceAreaOffset) + kEndMarkSize > block->ViewSize)
        return false;
    cursor_ = block->Bytes() + monitor_.instanceAreaOffset;
    viewEnd_ = block->Bytes() + block->ViewSize;
    return true;
}

// Moves past a record whose size fitted the view; at an end-of-block mark the
// walk goes on at the next open block. False when the walk ends.
inline bool InstanceWalk::StepOver(DWORD recordSize) {
    cursor_ += recordSize;
    if (!RoomForRecordSize()) return false;
    if (LoadUnchecked(cursor_, kRecordSizeOffset) == kEndOfBlock)
        return EnterBlock(monitor_.NextBlock(block_));
    return true;
}

inline HRESULT InstanceWalk::Next(const BYTE** record, DWORD* recordSize) {
    if (ended_) return S_FALSE;
    bool live;
    if (!started_) {
        started_ = true;
        live = EnterBlock(monitor_.NextBlock(nullptr));
    } else {
        live = StepOver(pendingStep_);
    }
    while (live) {
        if (!RoomForRecordSize()) break;
        const DWORD size = LoadUnchecked(cursor_, kRecordSizeOffset);
        if (size == kEndOfInstances) break;
        if (size == kEndOfBlock) {
            // Only reachable as the first record of a block: it cannot be stepped over.
            ended_ = true;
            return E_FAIL;
        }
        if (size < kRecordHeaderSize || size > static_cast<std::size_t>(viewEnd_ - cursor_)) break;
        if (LoadUnchecked(cursor_, kCategoryIdOffset) == categoryId_) {
            *record = cursor_;
            *recordSize = size;
            pendingStep_ = size;
            return S_OK;
        }
        live = StepOver(size);
    }
    ended_ = true;
    return S_FALSE;
}

}  // namespace vz
