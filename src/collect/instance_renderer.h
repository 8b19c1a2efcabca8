// Writing one instance record (already found by the walk, with the size the
// walk checked against the view) into perflib's buffer.
#pragma once
#include "objectmap/perfmon.h"

namespace vz {

HRESULT RenderInstanceRecord(CategoryRecord& category, BYTE** cursor, DWORD capacity,
                             DWORD* used, const BYTE* record, DWORD recordSize,
                             PERF_OBJECT_TYPE* objectHeader,
                             const PERF_COUNTER_DEFINITION* firstDefinition);

}  // namespace vz
