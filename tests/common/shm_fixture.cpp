#include "common/shm_fixture.h"

#include <stdexcept>

#include "platform/shared_memory_writer.h"

namespace vz {
namespace test {

ProviderChain::ProviderChain(std::u16string application, Bytes map, DWORD blockSize)
    : application_(std::move(application)), map_(std::move(map)), blockSize_(blockSize) {}

ProviderChain::~ProviderChain() {
    for (auto& [number, block] : blocks_) plat::CloseWritableSharedMemory(block.mapping, block.bytes);
}

void ProviderChain::CreateBlock(DWORD number, DWORD blockSize) {
    Block block{nullptr, nullptr, blockSize != 0 ? blockSize : blockSize_, 0};
    void* view = plat::CreateWritableSharedMemory(BlockName(application_, number).c_str(), block.size, &block.mapping);
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

void ProviderChain::PutWord(DWORD number, std::size_t offset, DWORD value) {
    Block& block = blocks_.at(number);
    ByteWriter out(block.bytes, block.size);
    if (!out.WordAt(offset, value)) throw std::out_of_range(out.FailureMessage());
}

std::size_t ProviderChain::AddRecord(DWORD number, const InstanceRecordLayout& layout) {
    Block& block = blocks_.at(number);
    const std::size_t at = block.next;
    const Bytes record = RecordBytes(layout, block.size - at);
    std::memcpy(block.bytes + at, record.data(), record.size());
    block.next = at + record.size();
    return at;
}

}  // namespace test
}  // namespace vz
