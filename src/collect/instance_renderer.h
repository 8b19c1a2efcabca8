// Writing the instance records of a category, as the walk finds them, into
// perflib's buffer.
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

// Every record of the category in the monitor's open blocks, in walk order,
// that passes the snapshot check. A category without instances has exactly one
// counter block: the walk stops at the first record written, and *written
// tells the caller whether it still has to write the zero-filled block. The
// first failure of the walk or of a record is returned.
[[nodiscard]] HRESULT RenderWalkedInstances(ATL::CPerfMon& monitor, CategoryRecord& category, BYTE** cursor,
                              DWORD capacity, DWORD* used, PERF_OBJECT_TYPE* objectHeader,
                              bool* written);

}  // namespace vz
