// The walk over the instance records of all open blocks that belong to one
// category. It reads RecordSize and CategoryId straight from the views and
// never reads outside a view.
#pragma once
#include "objectmap/perfmon.h"

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
    HRESULT Next(const BYTE** record, DWORD* recordSize);

private:
    bool EnterBlock(CSharedBlock* block) noexcept;
    bool StepOver(DWORD recordSize);

    ATL::CPerfMon& monitor_;
    DWORD categoryId_;
    CSharedBlock* block_ = nullptr;
    const BYTE* cursor_ = nullptr;
    const BYTE* viewEnd_ = nullptr;
    DWORD pendingStep_ = 0;  // size of the record handed out last
    bool started_ = false;
    bool ended_ = false;
};

}  // namespace vz
