// The writer side of the statistics chain, for the server process to embed.
// It claims the application name, creates the named blocks
// "Global\ATLPERF_<application>_NNN", writes the serialized object map at the
// start of block 0, stamps every block with its number and keeps one instance
// record per live instance in the instance areas.
//
// Readers in other processes walk the records while they change, without a
// lock; the write order of every operation keeps each reachable record
// self-consistent: a record becomes reachable only after its header and the end
// mark behind it are written, and a record changes hands only while its
// UseCount is 0 and its InstanceId has been changed.
//
// Adding and removing instances share one lock per publisher. Setting and
// adding to values take none: the handle names the slot of the record, whose
// tag (checked with one load) says whether the handle's instance still lives
// there, and each value is one atomic store or read-modify-write of its full
// size. A slot keeps its record and its category for the life of the
// publisher, so a call that loses a race with the removal of its instance can
// only write a value into a value area of that record.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "map_description.h"
#include "platform/platform.h"
#include "slot_table.h"

namespace vz {
namespace provider {

// Handle of one published instance: the record's slot number plus one in the
// low word and the slot's tag in the high word. A slot's tag is odd while an
// instance lives in it and goes up by one at every add and remove, so the
// handle of a removed instance never reaches the record's next occupant. 0 is
// never valid.
using InstanceHandle = std::uint64_t;

class StatisticsPublisher {
public:
    // Throws std::bad_alloc when its lock cannot be created.
    StatisticsPublisher(std::u16string application, MapDescription map);
    ~StatisticsPublisher();
    StatisticsPublisher(const StatisticsPublisher&) = delete;
    StatisticsPublisher& operator=(const StatisticsPublisher&) = delete;

    // Claims the application name, creates block 0 with the map and removes
    // the further blocks that a publisher which ended without closing left.
    [[nodiscard]] vzp_status Start();
    // Frees every record, then removes the blocks and gives up the name.
    void Stop();

    // A record for a new instance of the category, values zero.
    [[nodiscard]] vzp_status AddInstance(DWORD categoryId, const std::u16string& name, InstanceHandle* handle);
    [[nodiscard]] vzp_status RemoveInstance(InstanceHandle handle);

    // Lock-free. The value of the instance's counter number `counter` (map order).
    [[nodiscard]] vzp_status SetValue(InstanceHandle handle, DWORD counter, ULONGLONG value) noexcept;
    // Lock-free. values[i] for counter i; `count` must be the category's counter count.
    [[nodiscard]] vzp_status SetValues(InstanceHandle handle, const ULONGLONG* values, std::size_t count) noexcept;
    // Lock-free. Adds `delta` to the counter atomically, modulo 2^32 or 2^64 by its size.
    [[nodiscard]] vzp_status AddToValue(InstanceHandle handle, DWORD counter, LONGLONG delta) noexcept;

private:
    // Where one counter's value lies in a record, and its size (0, 4 or 8).
    struct ValueField {
        DWORD offset;
        DWORD size;
    };
    // A category as the update path needs it.
    struct RecordLayout {
        const CategoryDescription* category = nullptr;
        std::vector<ValueField> values;
        DWORD recordSize = 0;
        // Indices of the free slots of this category, the longest free first.
        std::deque<std::size_t> freeSlots;
    };
    struct Block {
        void* mapping = nullptr;
        BYTE* view = nullptr;
        DWORD end = 0;  // offset of the word that ends this block's records
    };
    struct Slot {
        std::atomic<DWORD> tag{0};  // odd while live: the high word of the live handle
        // Set before the tag first turns odd; never changed afterwards.
        BYTE* record = nullptr;
        RecordLayout* layout = nullptr;
    };

    RecordLayout* FindLayout(DWORD categoryId);
    vzp_status AppendBlock();
    void RemoveLeftBlocks();
    vzp_status PlaceRecord(DWORD size, BYTE** record);
    void FillRecord(const Slot& slot, const std::u16string& name, DWORD instanceId);
    void FreeRecord(Slot& slot);
    // The slot of a live handle, or null; any thread.
    Slot* LiveSlot(InstanceHandle handle) const noexcept {
        Slot* slot = slots_.Find((handle & 0xFFFFFFFFu) - 1);
        const DWORD tag = static_cast<DWORD>(handle >> 32);
        return slot != nullptr && (tag & 1) != 0 &&
                       slot->tag.load(std::memory_order_acquire) == tag
                   ? slot
                   : nullptr;
    }
    // Calls update(at, size) with where a live handle's counter value lies and
    // its size, and returns its status; any thread.
    template <typename Update>
    vzp_status UpdateValue(InstanceHandle handle, DWORD counter, Update update) const noexcept {
        const Slot* slot = LiveSlot(handle);
        if (slot == nullptr) return VZP_ERROR_UNKNOWN_INSTANCE;
        const RecordLayout& layout = *slot->layout;
        if (counter >= layout.values.size()) return VZP_ERROR_UNKNOWN_COUNTER;
        return update(slot->record + layout.values[counter].offset, layout.values[counter].size);
    }
    void Release();
    DWORD MapSize() const { return static_cast<DWORD>(mapBytes_.size()); }
    DWORD InstanceAreaOffset() const { return static_cast<DWORD>(InstanceAreaOffsetFor(MapSize())); }

    // Adding, removing, starting and stopping run under it.
    mutable plat::CriticalSectionStorage lock_;
    std::u16string application_;
    MapDescription map_;
    std::vector<RecordLayout> layouts_;  // one per category, in map order
    std::vector<BYTE> mapBytes_;
    DWORD blockSize_ = 0;
    void* claim_ = nullptr;
    std::vector<Block> blocks_;
    SlotTable<Slot> slots_;
};

// The next instance identity of this process: never 0, increasing.
DWORD NextInstanceId();

}  // namespace provider
}  // namespace vz
