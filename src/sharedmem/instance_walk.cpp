// Records are stepped over by their RecordSize. A record smaller than its
// 20-byte header, or whose RecordSize would take the cursor past the end of
// the view, cannot be stepped over safely: it ends the walk (the records
// before it are kept). A cursor too close to the view's end to hold a
// RecordSize word ends it too.
#include "sharedmem/instance_walk.h"

#include "sharedmem/byte_layout.h"
#include "sharedmem/shared_block.h"

namespace vz {

bool InstanceWalk::EnterBlock(CSharedBlock* block) noexcept {
    block_ = block;
    if (block == nullptr || block->View == nullptr ||
        static_cast<ULONGLONG>(monitor_.instanceAreaOffset) + 4 > block->ViewSize)
        return false;
    cursor_ = block->Bytes() + monitor_.instanceAreaOffset;
    viewEnd_ = block->Bytes() + block->ViewSize;
    return true;
}

// Moves past a record whose size fitted the view; at an end-of-block mark the
// walk goes on at the next open block. False when the walk ends.
bool InstanceWalk::StepOver(DWORD recordSize) {
    cursor_ += recordSize;
    if (viewEnd_ - cursor_ < 4) return false;
    if (LoadWord(cursor_ + kRecordSizeOffset) == kEndOfBlock)
        return EnterBlock(monitor_.NextBlock(block_));
    return true;
}

HRESULT InstanceWalk::Next(const BYTE** record, DWORD* recordSize) {
    if (ended_) return S_FALSE;
    bool live;
    if (!started_) {
        started_ = true;
        live = EnterBlock(monitor_.NextBlock(nullptr));
    } else {
        live = StepOver(pendingStep_);
    }
    while (live) {
        if (viewEnd_ - cursor_ < 4) break;
        const DWORD size = LoadWord(cursor_ + kRecordSizeOffset);
        if (size == kEndOfInstances) break;
        if (size == kEndOfBlock) {
            // Only reachable as the first record of a block: it cannot be stepped over.
            ended_ = true;
            return E_FAIL;
        }
        if (size < kRecordHeaderSize || size > static_cast<std::size_t>(viewEnd_ - cursor_)) break;
        if (LoadWord(cursor_ + kCategoryIdOffset) == categoryId_) {
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
