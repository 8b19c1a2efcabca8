// Provider-side shared memory for tests: writable blocks under the names the
// library opens ("Global\ATLPERF_<application>_<nnn>"), filled byte by byte
// with a serialized map, block numbers and instance records.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "server_object.h"
#include "sharedmem/byte_layout.h"

namespace vz {
namespace test {

// By default a live record of the published object (server_object.h): header
// and values, then room for the longest name with its terminator.
struct InstanceRecordLayout {
    uint32_t recordSize = (quorvane::kInstanceDataSize + 2 * quorvane::kMaxInstanceNameLength + 3) & ~3u;
    uint32_t categoryId = quorvane::kObjectId;
    uint32_t instanceId = 1;
    uint32_t useCount = kLiveUseCount;
    uint32_t nameOffset = quorvane::kInstanceDataSize;
    std::u16string name;
    // Values written from offset 20 on, one word each.
    std::vector<uint32_t> values;
};

std::u16string BlockName(const std::u16string& application, uint32_t number);

class ProviderChain {
public:
    // `map` is the serialized map written at the start of block 0; its first
    // word fixes where every block keeps its number and its instance area.
    ProviderChain(std::u16string application, std::vector<uint8_t> map,
                  uint32_t blockSize = 65536);
    ~ProviderChain();
    ProviderChain(const ProviderChain&) = delete;
    ProviderChain& operator=(const ProviderChain&) = delete;

    // Creates block `number` (map in block 0, block number at map size).
    uint8_t* CreateBlock(uint32_t number, uint32_t blockSize = 0);
    void RemoveBlock(uint32_t number);
    uint8_t* Bytes(uint32_t number);

    // Writes a record at the block's next free position; returns its offset.
    std::size_t AddRecord(uint32_t number, const InstanceRecordLayout& layout);
    // Writes the end-of-block mark 0xFFFFFFFF at the next free position.
    void EndBlock(uint32_t number);
    void PutWord(uint32_t number, std::size_t offset, uint32_t value);

    uint32_t MapSize() const { return mapSize_; }
    uint32_t InstanceAreaOffset() const {
        return static_cast<uint32_t>(InstanceAreaOffsetFor(mapSize_));
    }

private:
    struct Block;
    std::u16string application_;
    std::vector<uint8_t> map_;
    uint32_t mapSize_;
    uint32_t blockSize_;
    std::map<uint32_t, std::unique_ptr<Block>> blocks_;
};

}  // namespace test
}  // namespace vz
