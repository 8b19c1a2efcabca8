// The block chain and the instance records of the writer side. Every word a
// reader may look at is written with one aligned 32-bit store; the stores that
// make a record reachable or live come last and carry release ordering.
#include "statistics_publisher.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "platform/platform.h"
#include "platform/shared_memory_writer.h"

namespace vz {
namespace provider {

namespace {

// Words readers may be reading: aligned single stores, never torn.
void StoreShared(BYTE* at, DWORD value) {
    __atomic_store_n(reinterpret_cast<DWORD*>(at), value, __ATOMIC_RELAXED);
}
void PublishShared(BYTE* at, DWORD value) {
    __atomic_store_n(reinterpret_cast<DWORD*>(at), value, __ATOMIC_RELEASE);
}

vzp_status StatusFromLastError() {
    switch (plat::GetLastError()) {
        case plat::kErrorBusy: return VZP_ERROR_ALREADY_PUBLISHED;
        case plat::kErrorAccessDenied: return VZP_ERROR_ACCESS_DENIED;
        default: return VZP_ERROR_SYSTEM;
    }
}

std::atomic<DWORD> g_lastInstanceId{0};

class SectionGuard {
public:
    explicit SectionGuard(plat::CriticalSectionStorage* section) : section_(section) {
        plat::EnterCriticalSection(section_);
    }
    ~SectionGuard() { plat::LeaveCriticalSection(section_); }
    SectionGuard(const SectionGuard&) = delete;
    SectionGuard& operator=(const SectionGuard&) = delete;

private:
    plat::CriticalSectionStorage* section_;
};

}  // namespace

DWORD NextInstanceId() {
    DWORD id = g_lastInstanceId.fetch_add(1) + 1;
    if (id == 0) id = g_lastInstanceId.fetch_add(1) + 1;  // after a wrap, skip 0
    return id;
}

StatisticsPublisher::StatisticsPublisher(std::u16string application, MapDescription map)
    : application_(std::move(application)), map_(std::move(map)) {
    if (!plat::InitializeCriticalSection(&lock_)) throw std::bad_alloc();
}

StatisticsPublisher::~StatisticsPublisher() {
    Stop();
    plat::DeleteCriticalSection(&lock_);
}

vzp_status StatisticsPublisher::Start() {
    SectionGuard guard(&lock_);
    if (claim_ != nullptr) return VZP_OK;
    mapBytes_ = SerializeMap(map_);
    blockSize_ = plat::GetAllocationGranularity();
    // Block 0 must hold the map and, in any block, one record of every category.
    for (const CategoryDescription& category : map_)
        if (InstanceAreaOffset() + category.RecordSize() + 4 > blockSize_)
            return VZP_ERROR_BAD_DESCRIPTION;
    claim_ = plat::ClaimPublisherName(ClaimName(application_).c_str());
    if (claim_ == nullptr) return StatusFromLastError();
    const vzp_status status = AppendBlock();
    if (status != VZP_OK) Release();
    return status;
}

void StatisticsPublisher::Stop() {
    SectionGuard guard(&lock_);
    // A reader that keeps the blocks open must see no instance, not the last
    // values frozen.
    for (Slot& slot : slots_)
        if (slot.live) FreeRecord(slot);
    Release();
}

void StatisticsPublisher::Release() {
    for (Block& block : blocks_)
        plat::CloseWritableSharedMemory(static_cast<plat::HANDLE>(block.mapping), block.view);
    blocks_.clear();
    slots_.clear();
    freeSlots_.clear();
    plat::ReleasePublisherClaim(static_cast<plat::HANDLE>(claim_));
    claim_ = nullptr;
}

vzp_status StatisticsPublisher::AppendBlock() {
    const DWORD number = static_cast<DWORD>(blocks_.size());
    const std::u16string name = BlockName(application_, number);
    plat::HANDLE mapping = nullptr;
    void* view = plat::CreateWritableSharedMemory(name.c_str(), blockSize_, &mapping);
    if (view == nullptr) return StatusFromLastError();
    Block block;
    block.mapping = mapping;
    block.view = static_cast<BYTE*>(view);
    // An object left behind by an earlier run keeps its old bytes: start clean.
    std::memset(block.view, 0, blockSize_);
    if (number == 0) std::memcpy(block.view, mapBytes_.data(), mapBytes_.size());
    StoreShared(block.view + BlockNumberOffset(MapSize()), number);
    block.end = InstanceAreaOffset();
    PublishShared(block.view + block.end, kEndOfInstances);
    blocks_.push_back(block);
    return VZP_OK;
}

const CategoryDescription* StatisticsPublisher::FindCategory(DWORD categoryId) const {
    for (const CategoryDescription& category : map_)
        if (category.entry.id == categoryId) return &category;
    return nullptr;
}

// The record is free (UseCount 0) while it is filled. Its new InstanceId is
// published only after the body, so a reader that read the new InstanceId
// before its copy also copies the complete body.
void StatisticsPublisher::FillRecord(const Slot& slot, const CategoryDescription& category,
                                     const std::u16string& name, DWORD instanceId) {
    BYTE* record = RecordBytes(slot);
    PublishShared(record + kUseCountOffset, kFreeUseCount);
    StoreShared(record + kCategoryIdOffset, category.entry.id);
    StoreShared(record + kNameOffsetOffset, category.entry.instanceDataSize);
    std::memset(record + kRecordHeaderSize, 0, slot.size - kRecordHeaderSize);
    std::memcpy(record + category.entry.instanceDataSize, name.data(), 2 * name.size());
    PublishShared(record + kInstanceIdOffset, instanceId);
}

void StatisticsPublisher::FreeRecord(Slot& slot) {
    BYTE* record = RecordBytes(slot);
    PublishShared(record + kUseCountOffset, kFreeUseCount);
    // A reader that copied the record while it was live must see it change.
    PublishShared(record + kInstanceIdOffset, NextInstanceId());
    slot.live = false;
    ++slot.generation;
}

vzp_status StatisticsPublisher::PlaceRecord(DWORD size, DWORD* block, DWORD* offset) {
    if (blocks_.back().end + size + 4 > blockSize_) {
        const vzp_status status = AppendBlock();
        if (status != VZP_OK) return status == VZP_ERROR_SYSTEM ? VZP_ERROR_NO_ROOM : status;
    }
    *block = static_cast<DWORD>(blocks_.size() - 1);
    *offset = blocks_.back().end;
    return VZP_OK;
}

InstanceHandle StatisticsPublisher::HandleOf(std::size_t index) const {
    return (static_cast<InstanceHandle>(slots_[index].generation) << 32) | (index + 1);
}

vzp_status StatisticsPublisher::AddInstance(DWORD categoryId, const std::u16string& name,
                                            InstanceHandle* handle) {
    SectionGuard guard(&lock_);
    const CategoryDescription* category = FindCategory(categoryId);
    if (claim_ == nullptr || category == nullptr || handle == nullptr)
        return VZP_ERROR_INVALID_ARGUMENT;
    if (name.empty()) return VZP_ERROR_EMPTY_NAME;
    if (name.size() >= category->entry.maxInstanceNameLength) return VZP_ERROR_NAME_TOO_LONG;
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
        PublishShared(RecordBytes(slot) + kUseCountOffset, kLiveUseCount);
        slot.live = true;
        *handle = HandleOf(i);
        return VZP_OK;
    }

    const std::size_t blocksBefore = blocks_.size();
    Slot slot;
    const vzp_status placed = PlaceRecord(size, &slot.block, &slot.offset);
    if (placed != VZP_OK) return placed;
    slot.size = size;
    slot.categoryId = categoryId;
    Block& block = blocks_[slot.block];
    BYTE* record = RecordBytes(slot);
    StoreShared(record + size, kEndOfInstances);  // the new end of all data
    FillRecord(slot, *category, name, instanceId);
    PublishShared(record + kRecordSizeOffset, size);  // reachable from here on, still free
    PublishShared(record + kUseCountOffset, kLiveUseCount);
    block.end = slot.offset + size;
    if (blocks_.size() != blocksBefore) {
        // The previous block's records now continue in the new block.
        Block& previous = blocks_[slot.block - 1];
        PublishShared(previous.view + previous.end, kEndOfBlock);
    }
    slot.live = true;
    slots_.push_back(slot);
    *handle = HandleOf(slots_.size() - 1);
    return VZP_OK;
}

StatisticsPublisher::Slot* StatisticsPublisher::LiveSlot(InstanceHandle handle) {
    const std::uint64_t index = (handle & 0xFFFFFFFFu) - 1;
    if ((handle & 0xFFFFFFFFu) == 0 || index >= slots_.size()) return nullptr;
    Slot& slot = slots_[index];
    if (!slot.live || slot.generation != static_cast<DWORD>(handle >> 32)) return nullptr;
    return &slot;
}

vzp_status StatisticsPublisher::RemoveInstance(InstanceHandle handle) {
    SectionGuard guard(&lock_);
    Slot* slot = LiveSlot(handle);
    if (slot == nullptr) return VZP_ERROR_UNKNOWN_INSTANCE;
    FreeRecord(*slot);
    freeSlots_[slot->size].push_back((handle & 0xFFFFFFFFu) - 1);
    return VZP_OK;
}

void StatisticsPublisher::WriteValue(const Slot& slot, const CounterDescription& counter,
                                     ULONGLONG value) {
    BYTE* at = RecordBytes(slot) + counter.entry.dataOffset;
    switch (counter.ValueSize()) {
        case 4:
            StoreShared(at, static_cast<DWORD>(value));
            break;
        case 8:
            StoreShared(at, static_cast<DWORD>(value));
            StoreShared(at + 4, static_cast<DWORD>(value >> 32));
            break;
        default:
            break;  // a zero-size counter carries no value
    }
}

namespace {

bool Fits(const CounterDescription& counter, ULONGLONG value) {
    switch (counter.ValueSize()) {
        case 8: return true;
        case 4: return value <= 0xFFFFFFFFu;
        default: return value == 0;
    }
}

}  // namespace

vzp_status StatisticsPublisher::SetValue(InstanceHandle handle, DWORD counter, ULONGLONG value) {
    SectionGuard guard(&lock_);
    const Slot* slot = LiveSlot(handle);
    if (slot == nullptr) return VZP_ERROR_UNKNOWN_INSTANCE;
    const CategoryDescription* category = FindCategory(slot->categoryId);
    if (counter >= category->counters.size()) return VZP_ERROR_UNKNOWN_COUNTER;
    if (!Fits(category->counters[counter], value)) return VZP_ERROR_VALUE_TOO_LARGE;
    WriteValue(*slot, category->counters[counter], value);
    return VZP_OK;
}

vzp_status StatisticsPublisher::SetValues(InstanceHandle handle, const ULONGLONG* values,
                                          std::size_t count) {
    SectionGuard guard(&lock_);
    const Slot* slot = LiveSlot(handle);
    if (slot == nullptr) return VZP_ERROR_UNKNOWN_INSTANCE;
    const CategoryDescription* category = FindCategory(slot->categoryId);
    if (count != category->counters.size()) return VZP_ERROR_COUNT_MISMATCH;
    if (values == nullptr) return VZP_ERROR_INVALID_ARGUMENT;
    for (std::size_t i = 0; i < count; ++i)
        if (!Fits(category->counters[i], values[i])) return VZP_ERROR_VALUE_TOO_LARGE;
    for (std::size_t i = 0; i < count; ++i) WriteValue(*slot, category->counters[i], values[i]);
    return VZP_OK;
}

}  // namespace provider
}  // namespace vz
