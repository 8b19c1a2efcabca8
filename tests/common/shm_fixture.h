// Provider-side shared memory for tests: writable blocks under the names the
// library opens, holding a serialized map, block numbers and instance records
// as a provider (or a broken one) writes them.
#pragma once
#include <map>
#include <stdexcept>
#include <string>

#include "common/layout_builder.h"
#include "map_description.h"
#include "platform/platform.h"
#include "platform/shared_memory_writer.h"

namespace vz {
namespace test {

using provider::BlockName;  // "Global\ATLPERF_<application>_<nnn>"

class ProviderChain {
public:
    // `map` starts block 0; its size word places every block's number and instance area.
    ProviderChain(std::u16string application, Bytes map, DWORD blockSize = 65536)
        : application_(std::move(application)), map_(std::move(map)), blockSize_(blockSize) {}
    ~ProviderChain() {
        for (auto& [number, block] : blocks_) plat::CloseWritableSharedMemory(block.mapping, block.bytes);
    }
    ProviderChain(const ProviderChain&) = delete;
    ProviderChain& operator=(const ProviderChain&) = delete;

    // Creates block `number` (map in block 0, block number at map size).
    void CreateBlock(DWORD number, DWORD blockSize = 0) {
        Block block{nullptr, nullptr, blockSize != 0 ? blockSize : blockSize_, 0};
        void* view = plat::CreateWritableSharedMemory(BlockName(application_, number).c_str(), block.size,
                                                      &block.mapping);
        if (view == nullptr) throw std::runtime_error("cannot create a shared-memory block");
        block.bytes = static_cast<uint8_t*>(view);
        std::memset(block.bytes, 0, block.size);
        if (number == 0) std::memcpy(block.bytes, map_.data(), std::min<std::size_t>(map_.size(), block.size));
        DWORD mapSize = 0;  // a map shorter than its size word: 0
        static_cast<void>(ByteReader(map_.data(), map_.size()).WordAt(kMapSizeOffset, &mapSize));
        block.next = static_cast<std::size_t>(InstanceAreaOffsetFor(mapSize));
        // A map size beyond the block leaves the number out, as a broken provider would.
        static_cast<void>(ByteWriter(block.bytes, block.size).WordAt(BlockNumberOffset(mapSize), number));
        blocks_[number] = block;
    }
    // A record, or the end-of-block mark, at the block's next free position.
    std::size_t AddRecord(DWORD number, const InstanceRecordLayout& layout) {  // its offset
        Block& block = blocks_.at(number);
        const std::size_t at = block.next;
        const Bytes record = RecordBytes(layout, block.size - at);
        std::memcpy(block.bytes + at, record.data(), record.size());
        block.next = at + record.size();
        return at;
    }
    void EndBlock(DWORD number) { PutWord(number, blocks_.at(number).next, kEndOfBlock); }
    void PutWord(DWORD number, std::size_t offset, DWORD value) {
        Block& block = blocks_.at(number);
        ByteWriter out(block.bytes, block.size);
        if (!out.WordAt(offset, value)) throw std::out_of_range(out.FailureMessage());
    }

private:
    struct Block {
        plat::HANDLE mapping;
        uint8_t* bytes;
        DWORD size;
        std::size_t next;  // where the next record goes
    };
    std::u16string application_;
    Bytes map_;
    DWORD blockSize_;
    std::map<DWORD, Block> blocks_;
};

}  // namespace test
}  // namespace vz
