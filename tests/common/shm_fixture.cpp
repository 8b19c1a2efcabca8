#include "common/shm_fixture.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "platform/shared_memory_writer.h"
#include "sharedmem/byte_layout.h"

namespace vz {
namespace test {

struct ProviderChain::Block {
    plat::HANDLE mapping = nullptr;
    uint8_t* bytes = nullptr;
    uint32_t size = 0;
    std::size_t next = 0;  // where the next record goes
};

std::u16string BlockName(const std::u16string& application, uint32_t number) {
    std::u16string name(application.size() + 32, u'\0');
    name.resize(FormatBlockName(application.c_str(), number, &name[0], name.size()));
    return name;
}

ProviderChain::ProviderChain(std::u16string application, std::vector<uint8_t> map,
                             uint32_t blockSize)
    : application_(std::move(application)), map_(std::move(map)), blockSize_(blockSize) {
    mapSize_ = 0;
    // A map shorter than its size word leaves the size 0.
    static_cast<void>(ByteReader(map_.data(), map_.size()).WordAt(kMapSizeOffset, &mapSize_));
}

ProviderChain::~ProviderChain() {
    while (!blocks_.empty()) RemoveBlock(blocks_.begin()->first);
}

uint8_t* ProviderChain::CreateBlock(uint32_t number, uint32_t blockSize) {
    auto block = std::make_unique<Block>();
    block->size = blockSize != 0 ? blockSize : blockSize_;
    std::u16string name = BlockName(application_, number);
    void* view = plat::CreateWritableSharedMemory(name.c_str(), block->size, &block->mapping);
    if (view == nullptr) throw std::runtime_error("cannot create a shared-memory block");
    block->bytes = static_cast<uint8_t*>(view);
    std::memset(block->bytes, 0, block->size);
    if (number == 0) std::memcpy(block->bytes, map_.data(), std::min<std::size_t>(map_.size(), block->size));
    // A map size beyond the block leaves the block unnumbered, as some tests want.
    static_cast<void>(ByteWriter(block->bytes, block->size).WordAt(BlockNumberOffset(mapSize_), number));
    block->next = InstanceAreaOffset();
    uint8_t* bytes = block->bytes;
    blocks_[number] = std::move(block);
    return bytes;
}

void ProviderChain::RemoveBlock(uint32_t number) {
    auto it = blocks_.find(number);
    if (it == blocks_.end()) return;
    plat::CloseWritableSharedMemory(it->second->mapping, it->second->bytes);
    blocks_.erase(it);
}

uint8_t* ProviderChain::Bytes(uint32_t number) { return blocks_.at(number)->bytes; }

void ProviderChain::PutWord(uint32_t number, std::size_t offset, uint32_t value) {
    Block& block = *blocks_.at(number);
    ByteWriter out(block.bytes, block.size);
    if (!out.WordAt(offset, value)) throw std::out_of_range(out.FailureMessage());
}

// Header, values and name are written only inside the record's own RecordSize
// (and the block), so that a deliberately short record stays short.
std::size_t ProviderChain::AddRecord(uint32_t number, const InstanceRecordLayout& layout) {
    Block& block = *blocks_.at(number);
    const std::size_t at = block.next;
    // At least the RecordSize word itself; a record of size 0 or 0xFFFFFFFF
    // still ends up behind the previous one.
    const std::size_t extent = std::max<std::size_t>(layout.recordSize, kEndMarkSize);
    const std::size_t room = std::min<std::size_t>(extent, block.size - at);
    std::vector<uint8_t> record(room, 0);
    // Each field is written whole or not at all: what leaves the record is dropped.
    ByteWriter out(record.data(), record.size());
    auto put = [&out](std::size_t offset, uint32_t value) { static_cast<void>(out.WordAt(offset, value)); };
    put(kRecordSizeOffset, layout.recordSize);
    put(kCategoryIdOffset, layout.categoryId);
    put(kInstanceIdOffset, layout.instanceId);
    put(kUseCountOffset, layout.useCount);
    put(kNameOffsetOffset, layout.nameOffset);
    for (std::size_t i = 0; i < layout.values.size(); ++i) put(kRecordHeaderSize + 4 * i, layout.values[i]);
    std::u16string name = layout.name;
    name.push_back(u'\0');
    if (out.Seek(layout.nameOffset)) static_cast<void>(out.WriteBytes(name.data(), 2 * name.size()));
    std::memcpy(block.bytes + at, record.data(), record.size());
    block.next = at + std::min<std::size_t>(extent, block.size - at);
    return at;
}

void ProviderChain::EndBlock(uint32_t number) {
    PutWord(number, blocks_.at(number)->next, kEndOfBlock);
}

}  // namespace test
}  // namespace vz
