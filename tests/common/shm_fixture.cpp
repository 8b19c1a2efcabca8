#include "common/shm_fixture.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "platform/shared_memory_writer.h"

namespace vz {
namespace test {

struct ProviderChain::Block {
    plat::HANDLE mapping = nullptr;
    uint8_t* bytes = nullptr;
    uint32_t size = 0;
    std::size_t next = 0;  // where the next record goes
};

std::u16string BlockName(const std::u16string& application, uint32_t number) {
    std::string digits = std::to_string(number);
    while (digits.size() < 3) digits.insert(digits.begin(), '0');
    return u"Global\\ATLPERF_" + application + u"_" + std::u16string(digits.begin(), digits.end());
}

ProviderChain::ProviderChain(std::u16string application, std::vector<uint8_t> map,
                             uint32_t blockSize)
    : application_(std::move(application)), map_(std::move(map)), blockSize_(blockSize) {
    mapSize_ = 0;
    if (map_.size() >= 4) std::memcpy(&mapSize_, map_.data(), 4);
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
    if (static_cast<uint64_t>(mapSize_) + 4 <= block->size)
        std::memcpy(block->bytes + mapSize_, &number, 4);
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
    if (offset + 4 > block.size) throw std::out_of_range("word outside the block");
    std::memcpy(block.bytes + offset, &value, 4);
}

// Header, values and name are written only inside the record's own RecordSize
// (and the block), so that a deliberately short record stays short.
std::size_t ProviderChain::AddRecord(uint32_t number, const InstanceRecordLayout& layout) {
    Block& block = *blocks_.at(number);
    const std::size_t at = block.next;
    // At least the RecordSize word itself; a record of size 0 or 0xFFFFFFFF
    // still ends up behind the previous one.
    const std::size_t extent = std::max<std::size_t>(layout.recordSize, 4);
    const std::size_t room = std::min<std::size_t>(extent, block.size - at);
    std::vector<uint8_t> record(room, 0);
    auto put = [&](std::size_t offset, const void* data, std::size_t size) {
        if (offset + size <= record.size()) std::memcpy(record.data() + offset, data, size);
    };
    const uint32_t header[5] = {layout.recordSize, layout.categoryId, layout.instanceId, layout.useCount,
                                layout.nameOffset};
    for (int i = 0; i < 5; ++i) put(4 * i, &header[i], 4);
    for (std::size_t i = 0; i < layout.values.size(); ++i) put(20 + 4 * i, &layout.values[i], 4);
    std::u16string name = layout.name;
    name.push_back(u'\0');
    put(layout.nameOffset, name.data(), 2 * name.size());
    std::memcpy(block.bytes + at, record.data(), record.size());
    block.next = at + std::min<std::size_t>(extent, block.size - at);
    return at;
}

void ProviderChain::EndBlock(uint32_t number) {
    PutWord(number, blocks_.at(number)->next, 0xFFFFFFFFu);
}

}  // namespace test
}  // namespace vz
