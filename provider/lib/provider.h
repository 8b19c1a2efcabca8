// The writer side of the statistics chain, for the server process to embed.
// It creates the named blocks "Global\ATLPERF_<application>_NNN", writes the
// serialized object map at the start of block 0, stamps every block with its
// number and keeps one instance record per live instance in the instance areas.
//
// Readers in other processes walk the records while they change; the write
// order of every operation keeps each reachable record self-consistent:
// a record becomes reachable only after its header and the end mark behind it
// are written, and a record changes hands only while its UseCount is 0 and its
// InstanceId has been changed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sharedmem/byte_layout.h"
#include "support/types.h"

namespace vz {
namespace provider {

struct CounterDescription {
    DWORD id = 0;
    DWORD detailLevel = 100;
    DWORD counterType = 0x00010000;  // PERF_COUNTER_RAWCOUNT
    DWORD maxCharacters = 0;
    DWORD dataOffset = 0;
    LONG defaultScale = 0;
    DWORD nameTitleIndex = 0;
    DWORD helpTitleIndex = 0;
    std::u16string name;
};

struct CategoryDescription {
    DWORD id = 0;
    DWORD detailLevel = 100;
    DWORD defaultCounter = 0;
    bool noInstances = false;
    DWORD instanceDataSize = 0;
    DWORD maxInstanceNameLength = 0;
    DWORD nameTitleIndex = 0;
    DWORD helpTitleIndex = 0;
    std::u16string name;
    std::vector<CounterDescription> counters;

    // Header and values, then room for the name with its terminator (at least
    // the terminator, so that every record carries a valid name).
    DWORD RecordSize() const {
        const DWORD nameChars = maxInstanceNameLength != 0 ? maxInstanceNameLength : 1;
        return (instanceDataSize + 2 * nameChars + 3) & ~3u;
    }
};

using MapDescription = std::vector<CategoryDescription>;

// The server statistics object "Quorvane Server 11": category 4, sixteen raw
// counters at data offsets 20..80, records of 212 bytes. Title indices 0.
MapDescription ServerStatisticsDescription();
extern const char16_t kServerApplicationName[];  // "Quorvane Server ITA"

// Numbers the map in map order from the performance key's "First Counter" and
// "First Help" (each step 2), as registration did. False, and the description
// unchanged, when the object is not registered.
bool ApplyRegisteredTitleIndices(const std::u16string& application, MapDescription& map);

// The serialized map: map size, entry count, nine-word entries in map order and
// one name record per entry.
std::vector<BYTE> SerializeMap(const MapDescription& map);

// "Global\ATLPERF_<application>_NNN" with at least three digits.
std::u16string BlockName(const std::u16string& application, DWORD number);

// Handle of one published instance; 0 is never a valid handle.
using InstanceHandle = std::uint32_t;

class StatisticsPublisher {
public:
    StatisticsPublisher(std::u16string application, MapDescription map);
    ~StatisticsPublisher();
    StatisticsPublisher(const StatisticsPublisher&) = delete;
    StatisticsPublisher& operator=(const StatisticsPublisher&) = delete;

    // Creates block 0 with the map. False when the block cannot be created or
    // the map does not fit in one block.
    bool Start();
    void Stop();  // removes every block
    bool Started() const { return !blocks_.empty(); }

    // A record for a new instance of the category, counters zero. Returns 0 when
    // the category is unknown, or no block can take the record.
    InstanceHandle AddInstance(DWORD categoryId, const std::u16string& name);
    bool RemoveInstance(InstanceHandle handle);
    // `dataOffset` counts from the record's start; false when the value would
    // leave the record's fixed part or the handle is not live.
    bool SetCounter(InstanceHandle handle, DWORD dataOffset, DWORD value);
    bool SetCounter64(InstanceHandle handle, DWORD dataOffset, ULONGLONG value);
    // values[i] goes to the category's counter i (DWORD and LARGE counters).
    bool SetCounters(InstanceHandle handle, const std::vector<ULONGLONG>& values);

    // Layout, for tools and tests.
    DWORD BlockSize() const { return blockSize_; }
    DWORD MapSize() const { return static_cast<DWORD>(mapBytes_.size()); }
    DWORD InstanceAreaOffset() const { return static_cast<DWORD>(InstanceAreaOffsetFor(MapSize())); }
    std::size_t BlockCount() const { return blocks_.size(); }
    std::u16string BlockNameOf(DWORD number) const { return BlockName(application_, number); }
    // Byte offset of the handle's record in its block, and the block's number.
    bool Locate(InstanceHandle handle, DWORD* block, DWORD* offset) const;
    DWORD InstanceIdOf(InstanceHandle handle) const;

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
        bool live = false;
    };
    const CategoryDescription* FindCategory(DWORD categoryId) const;
    bool AppendBlock();
    bool PlaceRecord(DWORD size, DWORD* block, DWORD* offset);
    void FillRecord(const Slot& slot, const CategoryDescription& category,
                    const std::u16string& name, DWORD instanceId);
    BYTE* RecordBytes(const Slot& slot) const { return blocks_[slot.block].view + slot.offset; }
    Slot* LiveSlot(InstanceHandle handle);

    std::u16string application_;
    MapDescription map_;
    std::vector<BYTE> mapBytes_;
    DWORD blockSize_ = 0;
    std::vector<Block> blocks_;
    std::vector<Slot> slots_;
    // Indices into slots_ of the free records, by record size.
    std::map<DWORD, std::vector<std::size_t>> freeSlots_;
};

// The next instance identity of this process: never 0, increasing.
DWORD NextInstanceId();

}  // namespace provider
}  // namespace vz
