// One instance of a category in perflib's buffer: instance definition, name and
// counter block, all taken from a private snapshot of the record.
//
// A record whose name (with its terminator) or whose counter values do not lie
// inside the copied RecordSize bytes is skipped like a free record: nothing of
// it is written and the walk goes on with the next record. The walk has
// already checked that the record fits the view, so one bad record of the
// provider costs only itself.
#include <cstring>

#include "collect/instance_renderer.h"
#include "collect/output_fields.h"
#include "sharedmem/byte_layout.h"
#include "sharedmem/instance_snapshot.h"
#include "sharedmem/instance_walk.h"
#include "support/compiler.h"

namespace vz {
namespace {

// A text value of at most maxCharacters - 1 units and its terminator; the
// source is also cut at the end of the copy.
void CopyText(BYTE* target, const BYTE* source, std::size_t sourceBytes, DWORD maxCharacters,
              std::size_t unit) {
    if (maxCharacters == 0) return;
    std::size_t limit = maxCharacters - 1;
    if (limit > sourceBytes / unit) limit = sourceBytes / unit;
    std::size_t length = 0;
    if (unit == 1) {
        const void* nul = std::memchr(source, 0, limit);
        length = nul ? static_cast<const BYTE*>(nul) - source : limit;
    } else {
        for (; length < limit; ++length) {
            WCHAR ch;
            std::memcpy(&ch, source + 2 * length, 2);
            if (ch == 0) break;
        }
    }
    std::memcpy(target, source, length * unit);
    std::memset(target + length * unit, 0, unit);
}

// Values go to the CounterOffset of each counter's definition template, which
// is what RenderCategory copied into the definitions ahead of the instances.
void WriteValues(const CategoryRecord& category, const InstanceSnapshot& snapshot, BYTE* block,
                 DWORD blockSize) {
    for (const CounterRecord& counter : category.counters) {
        const DWORD offset = counter.definitionTemplate.CounterOffset;
        const DWORD size = counter.definitionTemplate.CounterSize;
        if (offset > blockSize || size > blockSize - offset) continue;
        const BYTE* source = snapshot.Data() + counter.dataOffset;
        const ULONGLONG bytes = CounterValueBytes(counter.counterType, counter.maxCharacters);
        if ((counter.counterType & PERF_SIZE_MASK) != PERF_SIZE_VARIABLE_LEN) {
            std::memcpy(block + offset, source, static_cast<std::size_t>(bytes));
        } else if (bytes <= size) {
            const std::size_t unit = (counter.counterType & PERF_TEXT_ASCII) ? 1 : 2;
            CopyText(block + offset, source, snapshot.Size() - counter.dataOffset,
                     counter.maxCharacters, unit);
        }
    }
}

}  // namespace

InstancePlan PlanInstances(const CategoryRecord& category) {
    InstancePlan plan;
    bool contiguous = true;
    bool first = true;
    ULONGLONG nextSource = 0, nextTarget = 0;
    for (const CounterRecord& counter : category.counters) {
        const DWORD sizeBits = counter.counterType & PERF_SIZE_MASK;
        if (sizeBits == PERF_SIZE_ZERO) continue;
        // Text is read only as far as the copy goes: it needs nothing of the record.
        const ULONGLONG bytes = sizeBits == PERF_SIZE_VARIABLE_LEN
                                    ? 0
                                    : CounterValueBytes(counter.counterType, counter.maxCharacters);
        if (sizeBits == PERF_SIZE_VARIABLE_LEN) contiguous = false;
        const ULONGLONG end = static_cast<ULONGLONG>(counter.dataOffset) + bytes;
        if (end > plan.requiredBytes) plan.requiredBytes = end;
        if (!contiguous) continue;
        if (first) {
            plan.runSource = counter.dataOffset;
            plan.runTarget = counter.definitionTemplate.CounterOffset;
            first = false;
        } else if (counter.dataOffset != nextSource ||
                   counter.definitionTemplate.CounterOffset != nextTarget) {
            contiguous = false;
            continue;
        }
        nextSource = end;
        nextTarget = static_cast<ULONGLONG>(counter.definitionTemplate.CounterOffset) + bytes;
    }
    if (contiguous && !first && nextTarget <= category.counterBlockSize) {
        plan.singleRun = true;
        plan.runBytes = static_cast<DWORD>(nextSource - plan.runSource);
    }
    return plan;
}

namespace {

// One record found by the walk, with the size the walk checked against the
// view. S_OK when it was written, S_FALSE when the snapshot check skipped it. Always inlined into the walk's loop: a call per record is a
// measurable share of a sample.
VZ_ALWAYS_INLINE HRESULT RenderInstanceRecord(
    CategoryRecord& category, const InstancePlan& plan, BYTE** cursor, DWORD capacity,
    DWORD* used, const BYTE* record, DWORD recordSize, PERF_OBJECT_TYPE* objectHeader) {
    const DWORD counterCount =
        LoadField<DWORD>(objectHeader, offsetof(PERF_OBJECT_TYPE, NumCounters));
    if (counterCount > category.counters.GetCount()) ATL::AtlThrow(E_INVALIDARG);

    InstanceSnapshot snapshot;
    bool usable = false;
    HRESULT hr = snapshot.Take(record, recordSize, category.id, &usable);
    if (Failed(hr)) return hr;
    if (!usable) return S_FALSE;

    const BYTE* name = nullptr;
    std::size_t nameUnits = 0;
    if (category.HasInstances() && !snapshot.FindName(&name, &nameUnits)) return S_FALSE;
    if (snapshot.Size() < plan.requiredBytes) return S_FALSE;

    // The instance definition, the name area and the counter block are
    // reserved together: the buffer either holds the whole instance or the
    // sample fails.
    const bool named = category.HasInstances();
    const DWORD nameLength = named ? static_cast<DWORD>(2 * nameUnits + 2) : 0;
    const DWORD definitionLength =
        named ? static_cast<DWORD>(InstanceDefinitionLength(nameLength)) : 0;
    const DWORD blockSize = category.counterBlockSize;
    if (blockSize > 0xFFFFFFFFu - definitionLength) return E_OUTOFMEMORY;
    BYTE* definition =
        ATL::CPerfMon::ReserveOutput(cursor, capacity, used, definitionLength + blockSize);
    if (definition == nullptr) return E_OUTOFMEMORY;
    if (named) {
        const LONG instances =
            LoadField<LONG>(objectHeader, offsetof(PERF_OBJECT_TYPE, NumInstances));
        StoreField<LONG>(objectHeader, offsetof(PERF_OBJECT_TYPE, NumInstances), instances + 1);
        // Field by field: a structure built on the stack and copied whole is
        // read back wider than it was written, which stalls every instance.
        using Definition = PERF_INSTANCE_DEFINITION;
        StoreField<DWORD>(definition, offsetof(Definition, ByteLength), definitionLength);
        StoreField<DWORD>(definition, offsetof(Definition, ParentObjectTitleIndex), 0);
        StoreField<DWORD>(definition, offsetof(Definition, ParentObjectInstance), 0);
        StoreField<LONG>(definition, offsetof(Definition, UniqueID), PERF_NO_UNIQUE_ID);
        StoreField<DWORD>(definition, offsetof(Definition, NameOffset), kInstanceNameOffset);
        StoreField<DWORD>(definition, offsetof(Definition, NameLength), nameLength);
        // The padding after the name is not written.
        std::memcpy(definition + kInstanceNameOffset, name, nameLength);
    } else {
        StoreField<LONG>(objectHeader, offsetof(PERF_OBJECT_TYPE, NumInstances),
                         PERF_NO_INSTANCES);
    }

    BYTE* block = definition + definitionLength;
    StoreField<DWORD>(block, offsetof(PERF_COUNTER_BLOCK, ByteLength), blockSize);
    if (plan.singleRun)
        std::memcpy(block + plan.runTarget, snapshot.Data() + plan.runSource, plan.runBytes);
    else
        WriteValues(category, snapshot, block, blockSize);

    const DWORD total = LoadField<DWORD>(objectHeader, offsetof(PERF_OBJECT_TYPE, TotalByteLength));
    StoreField<DWORD>(objectHeader, offsetof(PERF_OBJECT_TYPE, TotalByteLength),
                      total + definitionLength + blockSize);
    return S_OK;
}

}  // namespace

// The walk, the snapshot and the writing of each record compile into one loop.
HRESULT RenderWalkedInstances(ATL::CPerfMon& monitor, CategoryRecord& category, BYTE** cursor,
                              DWORD capacity, DWORD* used, PERF_OBJECT_TYPE* objectHeader,
                              bool* written) {
    const InstancePlan plan = PlanInstances(category);
    InstanceWalk walk(monitor, category.id);
    const BYTE* record = nullptr;
    DWORD recordSize = 0;
    HRESULT hr;
    while ((hr = walk.Next(&record, &recordSize)) == S_OK) {
        hr = RenderInstanceRecord(category, plan, cursor, capacity, used, record, recordSize,
                                  objectHeader);
        if (Failed(hr)) return hr;
        if (hr == S_OK) {
            *written = true;
            if (!category.HasInstances()) return S_OK;
        }
    }
    return Failed(hr) ? hr : S_OK;
}

}  // namespace vz
