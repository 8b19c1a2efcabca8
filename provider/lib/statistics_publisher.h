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
// UseCount is 0 and its InstanceId has been changed. Writers share one lock per
// publisher, so any thread may call any operation.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "map_description.h"
#include "platform/platform.h"

namespace vz {
namespace provider {

// Handle of one published instance: the record's slot number plus one in the
// low word and the slot's generation in the high word, so that the handle of
// a removed instance never reaches the record's next occupant. 0 is never valid.
using InstanceHandle = std::uint64_t;

class StatisticsPublisher {
public:
    // Throws std::bad_alloc when its lock cannot be created.
    StatisticsPublisher(std::u16string application, MapDescription map);
    ~StatisticsPublisher();
    StatisticsPublisher(const StatisticsPublisher&) = delete;
    StatisticsPublisher& operator=(const StatisticsPublisher&) = delete;

    // Claims the application name and creates block 0 with the map.
    [[nodiscard]] vzp_status Start();
    // Frees every record, then removes the blocks and gives up the name.
    void Stop();

    // A record for a new instance of the category, values zero.
    [[nodiscard]] vzp_status AddInstance(DWORD categoryId, const std::u16string& name, InstanceHandle* handle);
    [[nodiscard]] vzp_status RemoveInstance(InstanceHandle handle);
    // The value of the instance's counter number `counter` (map order).
    [[nodiscard]] vzp_status SetValue(InstanceHandle handle, DWORD counter, ULONGLONG value);
    // values[i] for counter i; `count` must be the category's counter count.
    [[nodiscard]] vzp_status SetValues(InstanceHandle handle, const ULONGLONG* values, std::size_t count);

private:
    struct Block {
        void* mapping = nullptr;
        BYTE* view = nullptr;
        DWORD end = 0;  // offset of the word that ends this block's records
    };
    struct Slot {
        DWORD block = 0;
        DWORD offset = 0;
        DWORD size = 0;
        DWORD categoryId = 0;
        DWORD generation = 0;
        bool live = false;
    };
    const CategoryDescription* FindCategory(DWORD categoryId) const;
    vzp_status AppendBlock();
    vzp_status PlaceRecord(DWORD size, DWORD* block, DWORD* offset);
    void FillRecord(const Slot& slot, const CategoryDescription& category,
                    const std::u16string& name, DWORD instanceId);
    void FreeRecord(Slot& slot);
    void WriteValue(const Slot& slot, const CounterDescription& counter, ULONGLONG value);
    InstanceHandle HandleOf(std::size_t index) const;
    BYTE* RecordBytes(const Slot& slot) const { return blocks_[slot.block].view + slot.offset; }
    Slot* LiveSlot(InstanceHandle handle);
    void Release();
    DWORD MapSize() const { return static_cast<DWORD>(mapBytes_.size()); }
    DWORD InstanceAreaOffset() const { return static_cast<DWORD>(InstanceAreaOffsetFor(MapSize())); }

    // Every operation runs under it: writers may call from any thread.
    mutable plat::CriticalSectionStorage lock_;
    std::u16string application_;
    MapDescription map_;
    std::vector<BYTE> mapBytes_;
    DWORD blockSize_ = 0;
    void* claim_ = nullptr;
    std::vector<Block> blocks_;
    std::vector<Slot> slots_;
    // Indices into slots_ of the free records, by record size.
    std::map<DWORD, std::vector<std::size_t>> freeSlots_;
};

// The next instance identity of this process: never 0, increasing.
DWORD NextInstanceId();

}  // namespace provider
}  // namespace vz
