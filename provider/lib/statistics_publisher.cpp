// The block chain and the instance records of the writer side. Every word a
// reader may look at is written with one aligned 32-bit store; the stores that
// make a record reachable or live come last and carry release ordering.
#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/platform.h"
#include "platform/shared_memory_writer.h"
#include "objectmap/perf_structures.h"
#include "provider.h"
#include "sharedmem/byte_layout.h"

namespace vz {
namespace provider {

namespace {

void StoreWord(BYTE* at, DWORD value) {
    __atomic_store_n(reinterpret_cast<DWORD*>(at), value, __ATOMIC_RELAXED);
}
void PublishWord(BYTE* at, DWORD value) {
    __atomic_store_n(reinterpret_cast<DWORD*>(at), value, __ATOMIC_RELEASE);
}

std::atomic<DWORD> g_lastInstanceId{0};

}  // namespace

DWORD NextInstanceId() {
    DWORD id = g_lastInstanceId.fetch_add(1) + 1;
    if (id == 0) id = g_lastInstanceId.fetch_add(1) + 1;  // after a wrap, skip 0
    return id;
}

StatisticsPublisher::StatisticsPublisher(std::u16string application, MapDescription map)
    : application_(std::move(application)), map_(std::move(map)) {}

StatisticsPublisher::~StatisticsPublisher() { Stop(); }

bool StatisticsPublisher::Start() {
    if (Started()) return true;
    mapBytes_ = SerializeMap(map_);
    blockSize_ = plat::GetAllocationGranularity();
    if (blockSize_ < kRecordHeaderSize || InstanceAreaOffset() + kEndMarkSize > blockSize_) return false;
    return AppendBlock();
}

void StatisticsPublisher::Stop() {
    for (Block& block : blocks_)
        plat::CloseWritableSharedMemory(static_cast<plat::HANDLE>(block.mapping), block.view);
    blocks_.clear();
    slots_.clear();
    freeSlots_.clear();
}

bool StatisticsPublisher::AppendBlock() {
    const DWORD number = static_cast<DWORD>(blocks_.size());
    const std::u16string name = BlockName(application_, number);
    plat::HANDLE mapping = nullptr;
    void* view = plat::CreateWritableSharedMemory(name.c_str(), blockSize_, &mapping);
    if (view == nullptr) return false;
    Block block;
    block.mapping = mapping;
    block.view = static_cast<BYTE*>(view);
    // An object left behind by an earlier run keeps its old bytes: start clean.
    std::memset(block.view, 0, blockSize_);
    if (number == 0) std::memcpy(block.view, mapBytes_.data(), mapBytes_.size());
    StoreWord(block.view + BlockNumberOffset(MapSize()), number);
    block.end = InstanceAreaOffset();
    PublishWord(block.view + block.end, kEndOfInstances);
    blocks_.push_back(block);
    return true;
}

const CategoryDescription* StatisticsPublisher::FindCategory(DWORD categoryId) const {
    for (const CategoryDescription& category : map_)
        if (category.id == categoryId) return &category;
    return nullptr;
}

// The record is free (UseCount 0) while it is filled. Its new InstanceId is
// published only after the body, so a reader that read the new InstanceId
// before its copy also copies the complete body.
void StatisticsPublisher::FillRecord(const Slot& slot, const CategoryDescription& category,
                                     const std::u16string& name, DWORD instanceId) {
    BYTE* record = RecordBytes(slot);
    PublishWord(record + kUseCountOffset, kFreeUseCount);
    StoreWord(record + kCategoryIdOffset, category.id);
    StoreWord(record + kNameOffsetOffset, category.instanceDataSize);
    std::memset(record + kRecordHeaderSize, 0, slot.size - kRecordHeaderSize);
    // The name with its terminator must stay inside the record.
    const std::size_t room = (slot.size - category.instanceDataSize) / 2;
    const std::size_t length = std::min(name.size(), room - 1);
    std::memcpy(record + category.instanceDataSize, name.data(), 2 * length);
    PublishWord(record + kInstanceIdOffset, instanceId);
}

bool StatisticsPublisher::PlaceRecord(DWORD size, DWORD* block, DWORD* offset) {
    if (blocks_.back().end + size + kEndMarkSize > blockSize_) {
        if (InstanceAreaOffset() + size + kEndMarkSize > blockSize_ || !AppendBlock()) return false;
    }
    *block = static_cast<DWORD>(blocks_.size() - 1);
    *offset = blocks_.back().end;
    return true;
}

InstanceHandle StatisticsPublisher::AddInstance(DWORD categoryId, const std::u16string& name) {
    const CategoryDescription* category = FindCategory(categoryId);
    if (!Started() || category == nullptr || category->instanceDataSize < kRecordHeaderSize)
        return 0;
    const DWORD size = category->RecordSize();
    const DWORD instanceId = NextInstanceId();

    // A free record of the same size changes hands: it is not live (UseCount
    // 0) while its identity, name and values are rewritten. The most recently
    // freed one goes first.
    auto spare = freeSlots_.find(size);
    if (spare != freeSlots_.end() && !spare->second.empty()) {
        const std::size_t i = spare->second.back();
        spare->second.pop_back();
        Slot& slot = slots_[i];
        slot.categoryId = categoryId;
        FillRecord(slot, *category, name, instanceId);
        PublishWord(RecordBytes(slot) + kUseCountOffset, kLiveUseCount);
        slot.live = true;
        return static_cast<InstanceHandle>(i + 1);
    }

    const std::size_t blocksBefore = blocks_.size();
    Slot slot;
    if (!PlaceRecord(size, &slot.block, &slot.offset)) return 0;
    slot.size = size;
    slot.categoryId = categoryId;
    Block& block = blocks_[slot.block];
    BYTE* record = RecordBytes(slot);
    StoreWord(record + size, kEndOfInstances);  // the new end of all data
    FillRecord(slot, *category, name, instanceId);
    PublishWord(record + kRecordSizeOffset, size);  // reachable from here on, still free
    PublishWord(record + kUseCountOffset, kLiveUseCount);
    block.end = slot.offset + size;
    if (blocks_.size() != blocksBefore) {
        // The previous block's records now continue in the new block.
        Block& previous = blocks_[slot.block - 1];
        PublishWord(previous.view + previous.end, kEndOfBlock);
    }
    slot.live = true;
    slots_.push_back(slot);
    return static_cast<InstanceHandle>(slots_.size());
}

StatisticsPublisher::Slot* StatisticsPublisher::LiveSlot(InstanceHandle handle) {
    if (handle == 0 || handle > slots_.size() || !slots_[handle - 1].live) return nullptr;
    return &slots_[handle - 1];
}

bool StatisticsPublisher::RemoveInstance(InstanceHandle handle) {
    Slot* slot = LiveSlot(handle);
    if (slot == nullptr) return false;
    BYTE* record = RecordBytes(*slot);
    PublishWord(record + kUseCountOffset, kFreeUseCount);
    // A reader that copied the record while it was live must see it change.
    PublishWord(record + kInstanceIdOffset, NextInstanceId());
    slot->live = false;
    freeSlots_[slot->size].push_back(handle - 1);
    return true;
}

bool StatisticsPublisher::SetCounter(InstanceHandle handle, DWORD dataOffset, DWORD value) {
    Slot* slot = LiveSlot(handle);
    if (slot == nullptr) return false;
    const CategoryDescription* category = FindCategory(slot->categoryId);
    if (dataOffset < kRecordHeaderSize || dataOffset % 4 != 0 ||
        dataOffset + sizeof value > category->instanceDataSize)
        return false;
    StoreWord(RecordBytes(*slot) + dataOffset, value);
    return true;
}

bool StatisticsPublisher::SetCounter64(InstanceHandle handle, DWORD dataOffset,
                                       ULONGLONG value) {
    Slot* slot = LiveSlot(handle);
    if (slot == nullptr) return false;
    const CategoryDescription* category = FindCategory(slot->categoryId);
    if (dataOffset < kRecordHeaderSize || dataOffset % 4 != 0 ||
        dataOffset + sizeof value > category->instanceDataSize)
        return false;
    BYTE* at = RecordBytes(*slot) + dataOffset;
    StoreWord(at, static_cast<DWORD>(value));
    StoreWord(at + 4, static_cast<DWORD>(value >> 32));
    return true;
}

bool StatisticsPublisher::SetCounters(InstanceHandle handle,
                                      const std::vector<ULONGLONG>& values) {
    Slot* slot = LiveSlot(handle);
    if (slot == nullptr) return false;
    const CategoryDescription* category = FindCategory(slot->categoryId);
    bool ok = true;
    const std::size_t n = std::min(values.size(), category->counters.size());
    for (std::size_t i = 0; i < n; ++i) {
        const CounterDescription& counter = category->counters[i];
        switch (counter.counterType & PERF_SIZE_MASK) {
            case PERF_SIZE_DWORD:
                ok = SetCounter(handle, counter.dataOffset, static_cast<DWORD>(values[i])) && ok;
                break;
            case PERF_SIZE_LARGE:
                ok = SetCounter64(handle, counter.dataOffset, values[i]) && ok;
                break;
            default:
                break;  // zero-size and text counters carry no number
        }
    }
    return ok;
}

bool StatisticsPublisher::Locate(InstanceHandle handle, DWORD* block, DWORD* offset) const {
    if (handle == 0 || handle > slots_.size()) return false;
    *block = slots_[handle - 1].block;
    *offset = slots_[handle - 1].offset;
    return true;
}

DWORD StatisticsPublisher::InstanceIdOf(InstanceHandle handle) const {
    if (handle == 0 || handle > slots_.size()) return 0;
    const Slot& slot = slots_[handle - 1];
    return LoadWord(RecordBytes(slot) + kInstanceIdOffset);
}

}  // namespace provider
}  // namespace vz
