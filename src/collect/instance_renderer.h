// Writing one instance record (already found by the walk, with the size the
// walk checked against the view) into perflib's buffer.
#pragma once
#include "objectmap/perfmon.h"

namespace vz {

// What every record of a category must hold, worked out once per category and
// sample rather than once per record.
struct InstancePlan {
    ULONGLONG requiredBytes = 0;  // the furthest byte any counter value reads
    // When every value is a DWORD or LARGE and they lie back to back in the
    // record in the same order and spacing as in the counter block, one copy
    // of runBytes from the record's runSource to the block's runTarget places
    // them all.
    bool singleRun = false;
    DWORD runSource = 0;
    DWORD runTarget = 0;
    DWORD runBytes = 0;
};

InstancePlan PlanInstances(const CategoryRecord& category);

HRESULT RenderInstanceRecord(CategoryRecord& category, const InstancePlan& plan, BYTE** cursor,
                             DWORD capacity, DWORD* used, const BYTE* record, DWORD recordSize,
                             PERF_OBJECT_TYPE* objectHeader);

}  // namespace vz
