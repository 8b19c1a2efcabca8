// One performance object in perflib's buffer: the header and definitions from
// the prepared templates, then the category's instances from the open blocks,
// or a single counter block for a category without instances.
#include <cstring>

#include "collect/instance_renderer.h"
#include "sharedmem/byte_layout.h"

namespace ATL {

vz::HRESULT CPerfMon::RenderCategory(CategoryRecord* category, vz::BYTE** cursor,
                                     vz::DWORD capacity, vz::DWORD* used) {
    if (category == nullptr) return vz::E_FAIL;
    vz::BYTE* header = ReserveOutput(cursor, capacity, used, sizeof(vz::PERF_OBJECT_TYPE));
    if (header == nullptr) return vz::E_OUTOFMEMORY;
    std::memcpy(header, &category->objectTemplate, sizeof(vz::PERF_OBJECT_TYPE));
    auto* objectHeader = reinterpret_cast<vz::PERF_OBJECT_TYPE*>(header);
    auto* firstDefinition = reinterpret_cast<vz::PERF_COUNTER_DEFINITION*>(*cursor);

    for (const CounterRecord& counter : category->counters) {
        vz::BYTE* definition =
            ReserveOutput(cursor, capacity, used, sizeof(vz::PERF_COUNTER_DEFINITION));
        if (definition == nullptr) return vz::E_OUTOFMEMORY;
        std::memcpy(definition, &counter.definitionTemplate, sizeof(vz::PERF_COUNTER_DEFINITION));
        if (counter.counterType == vz::PERF_ELAPSED_TIME) {
            vz::LONGLONG now = 0;
            if (!vz::plat::QueryPerformanceCounter(&now)) now = 0;
            vz::StoreUnchecked<vz::LONGLONG>(header, offsetof(vz::PERF_OBJECT_TYPE, PerfTime), now);
            vz::LONGLONG frequency = 0;
            if (vz::plat::QueryPerformanceFrequency(&frequency))
                vz::StoreUnchecked<vz::LONGLONG>(header, offsetof(vz::PERF_OBJECT_TYPE, PerfFreq),
                                             frequency);
        }
    }

    bool written = false;
    const vz::HRESULT hr =
        vz::RenderWalkedInstances(*this, *category, cursor, capacity, used, objectHeader, &written);
    if (vz::Failed(hr)) return hr;

    if (category->HasInstances() || written) return vz::S_OK;
    return RenderEmptyCounterBlock(category, cursor, capacity, used, objectHeader,
                                   firstDefinition);
}

vz::HRESULT CPerfMon::RenderEmptyCounterBlock(CategoryRecord* category, vz::BYTE** cursor,
                                              vz::DWORD capacity, vz::DWORD* used,
                                              vz::PERF_OBJECT_TYPE* objectHeader,
                                              vz::PERF_COUNTER_DEFINITION* firstDefinition) {
    if (category == nullptr) return vz::E_FAIL;
    vz::StoreUnchecked<vz::LONG>(objectHeader, offsetof(vz::PERF_OBJECT_TYPE, NumInstances),
                             vz::PERF_NO_INSTANCES);
    const vz::DWORD blockSize = category->counterBlockSize;
    vz::BYTE* block = ReserveOutput(cursor, capacity, used, blockSize);
    if (block == nullptr) return vz::E_OUTOFMEMORY;
    vz::StoreUnchecked<vz::DWORD>(block, offsetof(vz::PERF_COUNTER_BLOCK, ByteLength), blockSize);

    const vz::DWORD counterCount =
        vz::LoadUnchecked<vz::DWORD>(objectHeader, offsetof(vz::PERF_OBJECT_TYPE, NumCounters));
    const auto* definitions = reinterpret_cast<const vz::BYTE*>(firstDefinition);
    for (vz::DWORD i = 0; i < counterCount; ++i) {
        const CounterRecord& counter = category->counters[i];
        const vz::DWORD offset = vz::LoadUnchecked<vz::DWORD>(
            definitions + sizeof(vz::PERF_COUNTER_DEFINITION) * static_cast<std::size_t>(i),
            offsetof(vz::PERF_COUNTER_DEFINITION, CounterOffset));
        const vz::ULONGLONG bytes =
            vz::CounterValueBytes(counter.counterType, counter.maxCharacters);
        if (offset <= blockSize && bytes <= blockSize - offset)
            std::memset(block + offset, 0, static_cast<std::size_t>(bytes));
    }
    const vz::DWORD total =
        vz::LoadUnchecked<vz::DWORD>(objectHeader, offsetof(vz::PERF_OBJECT_TYPE, TotalByteLength));
    vz::StoreUnchecked<vz::DWORD>(objectHeader, offsetof(vz::PERF_OBJECT_TYPE, TotalByteLength),
                              total + blockSize);
    return vz::S_OK;
}

}  // namespace ATL
