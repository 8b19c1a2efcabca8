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
#include "sharedmem/byte_layout.h"
#include "sharedmem/instance_snapshot.h"
#include "sharedmem/instance_walk.h"
#include "support/allocation.h"
#include "support/atl_exception.h"
#include "support/compiler.h"
#include "support/small_copy.h"

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
    } else if (!FindUnitTerminator(source, limit, &length)) {
        length = limit;
    }
    std::memcpy(target, source, length * unit);
    std::memset(target + length * unit, 0, unit);
}

// Values go to the CounterOffset of each counter's definition template, which
// is what RenderCategory copied into the definitions ahead of the instances.
void WriteValues(const CategoryRecord& category, InstanceSnapshot snapshot, BYTE* block,
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

// What the walk writes besides the instances: the output cursor and the object
// header's instance count and length. They are kept here, in locals of the
// walk, and stored once when it ends: every instance is written to perflib's
// buffer byte-wise, and the compiler must assume such stores may change any
// value read through a pointer, so counters behind pointers would be loaded and
// stored again for each instance. On an exception nothing is stored; the
// sample fails without data then.
struct WalkOutput {
    BYTE* cursor;
    DWORD capacity;
    DWORD used;
    LONG instances;
    DWORD totalBytes;
};

// The category's fields that every instance needs, copied once per walk for
// the same reason.
struct CategoryFacts {
    DWORD id;
    DWORD counterBlockSize;
    bool named;
    // The header does not announce more counters than the category has; a
    // header that does is refused at its first instance.
    bool countersFit;
};

// One instance from a usable snapshot. S_OK when it was written, S_FALSE when
// its name or values do not lie inside the copy.
VZ_ALWAYS_INLINE HRESULT WriteInstance(const CategoryRecord& category, const CategoryFacts& facts,
                                       const InstancePlan& plan, WalkOutput& output,
                                       const InstanceSnapshot& snapshot) {
    const BYTE* name = nullptr;
    std::size_t nameUnits = 0;
    if (facts.named && !snapshot.FindName(&name, &nameUnits)) return S_FALSE;
    if (snapshot.Size() < plan.requiredBytes) return S_FALSE;

    // The instance definition, the name area and the counter block are
    // reserved together: the buffer either holds the whole instance or the
    // sample fails.
    const DWORD nameLength = facts.named ? static_cast<DWORD>(2 * nameUnits + 2) : 0;
    const DWORD definitionLength =
        facts.named ? static_cast<DWORD>(InstanceDefinitionLength(nameLength)) : 0;
    const DWORD blockSize = facts.counterBlockSize;
    if (blockSize > 0xFFFFFFFFu - definitionLength) return E_OUTOFMEMORY;
    BYTE* definition = ATL::CPerfMon::ReserveOutput(&output.cursor, output.capacity,
                                                    &output.used, definitionLength + blockSize);
    if (definition == nullptr) return E_OUTOFMEMORY;
    if (facts.named) {
        output.instances += 1;
        // Two fields per store, from registers: a structure built on the stack
        // and copied whole is read back wider than it was written, which
        // stalls every instance.
        using Definition = PERF_INSTANCE_DEFINITION;
        StorePairUnchecked(definition, offsetof(Definition, ByteLength), definitionLength, 0);
        static_assert(offsetof(Definition, ParentObjectTitleIndex) ==
                      offsetof(Definition, ByteLength) + 4);
        StorePairUnchecked(definition, offsetof(Definition, ParentObjectInstance), 0,
                       static_cast<DWORD>(PERF_NO_UNIQUE_ID));
        static_assert(offsetof(Definition, UniqueID) ==
                      offsetof(Definition, ParentObjectInstance) + 4);
        StorePairUnchecked(definition, offsetof(Definition, NameOffset), kInstanceNameOffset,
                       nameLength);
        static_assert(offsetof(Definition, NameLength) == offsetof(Definition, NameOffset) + 4);
        // The padding after the name is not written.
        CopySmall(definition + kInstanceNameOffset, name, nameLength);
    } else {
        output.instances = PERF_NO_INSTANCES;
    }

    BYTE* block = definition + definitionLength;
    StoreUnchecked<DWORD>(block, offsetof(PERF_COUNTER_BLOCK, ByteLength), blockSize);
    if (plan.singleRun)
        CopySmall(block + plan.runTarget, snapshot.Data() + plan.runSource, plan.runBytes);
    else
        WriteValues(category, snapshot, block, blockSize);

    output.totalBytes += definitionLength + blockSize;
    return S_OK;
}

// Snapshots the record into `copy` (room for recordSize bytes) and writes its
// instance when the snapshot is usable; S_FALSE when it is not.
VZ_ALWAYS_INLINE HRESULT WriteFromCopy(const CategoryRecord& category, const CategoryFacts& facts,
                                       const InstancePlan& plan, WalkOutput& output,
                                       const BYTE* record, DWORD recordSize, BYTE* copy) {
    bool usable = false;
    const InstanceSnapshot snapshot =
        InstanceSnapshot::Take(record, recordSize, facts.id, copy, &usable);
    if (!usable) return S_FALSE;
    return WriteInstance(category, facts, plan, output, snapshot);
}

// A record above the stack copy's capacity, copied to the heap for as long as
// its instance is written. Out of line: the collection's own records are far
// smaller.
VZ_NOINLINE HRESULT RenderLargeRecord(const CategoryRecord& category, CategoryFacts facts,
                                      const InstancePlan& plan, WalkOutput& output,
                                      const BYTE* record, DWORD recordSize) {
    // The copy's allocation carries an 8-byte header that such a size leaves
    // no room for.
    if (recordSize > 0xFFFFFFFFu - 8) ATL::AtlThrow(E_INVALIDARG);
    struct HeapCopy {
        BYTE* bytes;
        ~HeapCopy() { FreeMemory(bytes); }
    } copy{static_cast<BYTE*>(AllocateRaw(recordSize))};
    if (copy.bytes == nullptr) return E_OUTOFMEMORY;
    return WriteFromCopy(category, facts, plan, output, record, recordSize, copy.bytes);
}

// One record found by the walk, with the size the walk checked against the
// view. S_OK when it was written, S_FALSE when it was skipped. Always inlined
// into the walk's loop: a call per record is a measurable share of a sample.
VZ_ALWAYS_INLINE HRESULT RenderInstanceRecord(const CategoryRecord& category,
                                              const CategoryFacts& facts,
                                              const InstancePlan& plan, WalkOutput& output,
                                              const BYTE* record, DWORD recordSize) {
    if (!facts.countersFit) ATL::AtlThrow(E_INVALIDARG);
    if (recordSize > kInlineSnapshotCapacity) {
        // Through a copy: the walk's own output and facts must not have their
        // address taken by a call, or they could not stay in registers.
        WalkOutput large = output;
        const HRESULT hr = RenderLargeRecord(category, facts, plan, large, record, recordSize);
        output = large;
        return hr;
    }
    alignas(16) BYTE copy[kInlineSnapshotCapacity];
    return WriteFromCopy(category, facts, plan, output, record, recordSize, copy);
}

}  // namespace

// The walk, the snapshot and the writing of each record compile into one loop.
HRESULT RenderWalkedInstances(ATL::CPerfMon& monitor, CategoryRecord& category, BYTE** cursor,
                              DWORD capacity, DWORD* used, PERF_OBJECT_TYPE* objectHeader,
                              bool* written) {
    const InstancePlan plan = PlanInstances(category);
    const CategoryFacts facts{
        category.id, category.counterBlockSize, category.HasInstances(),
        LoadUnchecked<DWORD>(objectHeader, offsetof(PERF_OBJECT_TYPE, NumCounters)) <=
            category.counters.GetCount()};
    WalkOutput output{*cursor, capacity, *used,
                      LoadUnchecked<LONG>(objectHeader, offsetof(PERF_OBJECT_TYPE, NumInstances)),
                      LoadUnchecked<DWORD>(objectHeader, offsetof(PERF_OBJECT_TYPE, TotalByteLength))};
    InstanceWalk walk(monitor, facts.id);
    bool wroteOne = false;
    const BYTE* record = nullptr;
    DWORD recordSize = 0;
    HRESULT hr;
    while ((hr = walk.Next(&record, &recordSize)) == S_OK) {
        hr = RenderInstanceRecord(category, facts, plan, output, record, recordSize);
        if (Failed(hr)) break;
        if (hr == S_OK) {
            wroteOne = true;
            if (!facts.named) break;
        }
    }
    *cursor = output.cursor;
    *used = output.used;
    StoreUnchecked<LONG>(objectHeader, offsetof(PERF_OBJECT_TYPE, NumInstances), output.instances);
    StoreUnchecked<DWORD>(objectHeader, offsetof(PERF_OBJECT_TYPE, TotalByteLength), output.totalBytes);
    *written = wroteOne;
    return Failed(hr) ? hr : S_OK;
}

}  // namespace vz
