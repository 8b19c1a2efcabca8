// The object header and counter definition templates that collection copies
// into perflib's buffer, and the layout of one instance's counter block.
#include "objectmap/perfmon.h"
#include "sharedmem/counter_layout.h"

namespace ATL {

void CPerfMon::PrepareOutputTemplates(CategoryRecord& category) {
    // ByteLength and four reserved bytes come before the first value.
    vz::ULONGLONG blockSize = vz::kCounterBlockHeaderSize;
    const auto counterCount = static_cast<vz::DWORD>(category.counters.GetCount());

    vz::PERF_OBJECT_TYPE& object = category.objectTemplate;
    object = vz::PERF_OBJECT_TYPE{};
    object.DefinitionLength = sizeof(vz::PERF_OBJECT_TYPE) +
                              sizeof(vz::PERF_COUNTER_DEFINITION) * counterCount;
    object.TotalByteLength = object.DefinitionLength;
    object.HeaderLength = sizeof(vz::PERF_OBJECT_TYPE);
    object.ObjectNameTitleIndex = category.nameTitleIndex;
    object.ObjectHelpTitleIndex = category.helpTitleIndex;
    object.DetailLevel = category.detailLevel;
    object.NumCounters = counterCount;
    object.DefaultCounter = static_cast<vz::LONG>(category.defaultCounter);
    object.NumInstances = category.HasInstances() ? 0 : vz::PERF_NO_INSTANCES;
    vz::LONGLONG frequency = 0;
    if (!vz::plat::QueryPerformanceFrequency(&frequency)) frequency = 0;
    object.PerfFreq = frequency;

    for (CounterRecord& counter : category.counters) {
        vz::PERF_COUNTER_DEFINITION& definition = counter.definitionTemplate;
        definition = vz::PERF_COUNTER_DEFINITION{};
        definition.ByteLength = sizeof(vz::PERF_COUNTER_DEFINITION);
        definition.CounterNameTitleIndex = counter.nameTitleIndex;
        definition.CounterHelpTitleIndex = counter.helpTitleIndex;
        definition.DefaultScale = counter.defaultScale;
        definition.DetailLevel = counter.detailLevel;
        definition.CounterType = counter.counterType;
        const vz::CounterPlacement placement =
            vz::CounterPlacementOf(counter.counterType, counter.maxCharacters);
        definition.CounterSize = static_cast<vz::DWORD>(placement.size);
        definition.CounterOffset = static_cast<vz::DWORD>(vz::PlaceCounter(placement, &blockSize));
    }
    // The serialized-map reader refuses layouts beyond 32 bits before it gets here.
    category.counterBlockSize = static_cast<vz::DWORD>(vz::AlignUp(blockSize, 8));
}

}  // namespace ATL
