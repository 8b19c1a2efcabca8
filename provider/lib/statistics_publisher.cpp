// The block chain and the instance records of the writer side. Every word a
// reader may look at is written with one aligned store of its full size; the
// stores that make a record reachable or live come last and carry release
// ordering.
#include "statistics_publisher.h"

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
        case plat::kErrorNotOwner: return VZP_ERROR_NOT_OWNER;
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

constexpr DWORD AlignUp(DWORD value, DWORD alignment) { return (value + alignment - 1) & ~(alignment - 1); }

bool Fits(DWORD size, ULONGLONG value) {
    switch (size) {
        case 8: return true;
        case 4: return value <= 0xFFFFFFFFu;
        default: return value == 0;
    }
}

// One atomic store of the value's full size: 64-bit values are 8-byte aligned
// in every record, so even a 32-bit machine never lets a reader see half of one.
void StoreValue(BYTE* at, DWORD size, ULONGLONG value) {
    if (size == 8)
        __atomic_store_n(reinterpret_cast<ULONGLONG*>(at), value, __ATOMIC_RELAXED);
    else if (size == 4)
        __atomic_store_n(reinterpret_cast<DWORD*>(at), static_cast<DWORD>(value), __ATOMIC_RELAXED);
}

}  // namespace

DWORD NextInstanceId() {
    DWORD id = g_lastInstanceId.fetch_add(1) + 1;
    if (id == 0) id = g_lastInstanceId.fetch_add(1) + 1;  // after a wrap, skip 0
    return id;
}

StatisticsPublisher::StatisticsPublisher(std::u16string application, MapDescription map)
    : application_(std::move(application)), map_(std::move(map)) {
    layouts_.resize(map_.size());
    for (std::size_t c = 0; c < map_.size(); ++c) {
        RecordLayout& layout = layouts_[c];
        layout.category = &map_[c];
        DWORD alignment = 4;
        for (const CounterDescription& counter : map_[c].counters) {
            layout.values.push_back({counter.entry.dataOffset, counter.ValueSize()});
            if (counter.ValueSize() == 8) alignment = 8;
        }
        // Records of a category with 64-bit values start on 8-byte boundaries.
        layout.recordSize = AlignUp(map_[c].RecordSize(), alignment);
    }
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
    for (const RecordLayout& layout : layouts_)
        if (InstanceAreaOffset() + layout.recordSize + 4 > blockSize_) return VZP_ERROR_BAD_DESCRIPTION;
    claim_ = plat::ClaimPublisherName(ClaimName(application_).c_str());
    if (claim_ == nullptr) return StatusFromLastError();
    const vzp_status status = AppendBlock();
    if (status != VZP_OK) {
        Release();
        return status;
    }
    RemoveLeftBlocks();
    return VZP_OK;
}

// A publisher that ended without closing may have left blocks 1, 2, ... of a
// longer chain. Block 0 now ends the chain, but readers open blocks by number
// until one is missing: the stale ones go, so that none is read again.
void StatisticsPublisher::RemoveLeftBlocks() {
    for (DWORD number = 1; plat::RemoveLeftSharedMemory(BlockName(application_, number).c_str());
         ++number) {
    }
}

void StatisticsPublisher::Stop() {
    SectionGuard guard(&lock_);
    // A reader that keeps the blocks open must see no instance, not the last
    // values frozen.
    for (std::uint64_t i = 0; i < slots_.Size(); ++i) {
        Slot& slot = *slots_.Find(i);
        if ((slot.tag.load(std::memory_order_relaxed) & 1) != 0) FreeRecord(slot);
    }
    Release();
}

void StatisticsPublisher::Release() {
    for (Block& block : blocks_)
        plat::CloseWritableSharedMemory(static_cast<plat::HANDLE>(block.mapping), block.view);
    blocks_.clear();
    slots_.Clear();
    for (RecordLayout& layout : layouts_) layout.freeSlots.clear();
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

StatisticsPublisher::RecordLayout* StatisticsPublisher::FindLayout(DWORD categoryId) {
    for (RecordLayout& layout : layouts_)
        if (layout.category->entry.id == categoryId) return &layout;
    return nullptr;
}

// The record is free (UseCount 0) while it is filled. Its new InstanceId is
// published only after the body, so a reader that read the new InstanceId
// before its copy also copies the complete body. The values are cleared with
// the same atomic stores as updates use: a late update of the record's
// previous occupant may still be writing there.
void StatisticsPublisher::FillRecord(const Slot& slot, const std::u16string& name,
                                     DWORD instanceId) {
    const CategoryDescription& category = *slot.layout->category;
    BYTE* record = slot.record;
    const DWORD dataEnd = category.entry.instanceDataSize;
    PublishShared(record + kUseCountOffset, kFreeUseCount);
    StoreShared(record + kCategoryIdOffset, category.entry.id);
    StoreShared(record + kNameOffsetOffset, dataEnd);
    for (DWORD at = kRecordHeaderSize; at < dataEnd; at += 4) StoreShared(record + at, 0);
    std::memset(record + dataEnd, 0, slot.layout->recordSize - dataEnd);
    std::memcpy(record + dataEnd, name.data(), 2 * name.size());
    PublishShared(record + kInstanceIdOffset, instanceId);
}

void StatisticsPublisher::FreeRecord(Slot& slot) {
    // Updates through the removed handle stop passing the tag check first.
    slot.tag.fetch_add(1, std::memory_order_release);
    PublishShared(slot.record + kUseCountOffset, kFreeUseCount);
    // A reader that copied the record while it was live must see it change.
    PublishShared(slot.record + kInstanceIdOffset, NextInstanceId());
}

vzp_status StatisticsPublisher::PlaceRecord(DWORD size, BYTE** record) {
    if (blocks_.back().end + size + 4 > blockSize_) {
        const vzp_status status = AppendBlock();
        if (status != VZP_OK) return status == VZP_ERROR_SYSTEM ? VZP_ERROR_NO_ROOM : status;
    }
    *record = blocks_.back().view + blocks_.back().end;
    return VZP_OK;
}

vzp_status StatisticsPublisher::AddInstance(DWORD categoryId, const std::u16string& name,
                                            InstanceHandle* handle) {
    SectionGuard guard(&lock_);
    RecordLayout* layout = FindLayout(categoryId);
    if (claim_ == nullptr || layout == nullptr || handle == nullptr)
        return VZP_ERROR_INVALID_ARGUMENT;
    if (name.empty()) return VZP_ERROR_EMPTY_NAME;
    if (name.size() >= layout->category->entry.maxInstanceNameLength)
        return VZP_ERROR_NAME_TOO_LONG;
    const DWORD instanceId = NextInstanceId();

    // A free record of the category changes hands: it is not live (UseCount
    // 0) while its identity, name and values are rewritten. The record freed
    // longest ago goes first, which leaves an update that lost the race with
    // its instance's removal the most time to land before the next occupant.
    if (!layout->freeSlots.empty()) {
        const std::size_t i = layout->freeSlots.front();
        layout->freeSlots.pop_front();
        Slot& slot = *slots_.Find(i);
        FillRecord(slot, name, instanceId);
        PublishShared(slot.record + kUseCountOffset, kLiveUseCount);
        const DWORD tag = slot.tag.load(std::memory_order_relaxed) + 1;
        slot.tag.store(tag, std::memory_order_release);
        *handle = (static_cast<InstanceHandle>(tag) << 32) | (i + 1);
        return VZP_OK;
    }

    // The slot first: once the record is placed nothing may fail.
    const std::size_t index = static_cast<std::size_t>(slots_.Size());
    Slot* slot = slots_.Next();
    if (slot == nullptr) return VZP_ERROR_OUT_OF_MEMORY;
    const DWORD size = layout->recordSize;
    const std::size_t blocksBefore = blocks_.size();
    BYTE* record = nullptr;
    const vzp_status placed = PlaceRecord(size, &record);
    if (placed != VZP_OK) return placed;
    slots_.Commit();
    slot->record = record;
    slot->layout = layout;
    Block& block = blocks_.back();
    StoreShared(record + size, kEndOfInstances);  // the new end of all data
    FillRecord(*slot, name, instanceId);
    PublishShared(record + kRecordSizeOffset, size);  // reachable from here on, still free
    PublishShared(record + kUseCountOffset, kLiveUseCount);
    block.end += size;
    if (blocks_.size() != blocksBefore) {
        // The previous block's records now continue in the new block.
        Block& previous = blocks_[blocks_.size() - 2];
        PublishShared(previous.view + previous.end, kEndOfBlock);
    }
    slot->tag.store(1, std::memory_order_release);
    *handle = (static_cast<InstanceHandle>(1) << 32) | (index + 1);
    return VZP_OK;
}

vzp_status StatisticsPublisher::RemoveInstance(InstanceHandle handle) {
    SectionGuard guard(&lock_);
    Slot* slot = LiveSlot(handle);
    if (slot == nullptr) return VZP_ERROR_UNKNOWN_INSTANCE;
    FreeRecord(*slot);
    slot->layout->freeSlots.push_back((handle & 0xFFFFFFFFu) - 1);
    return VZP_OK;
}

vzp_status StatisticsPublisher::SetValue(InstanceHandle handle, DWORD counter,
                                         ULONGLONG value) noexcept {
    return UpdateValue(handle, counter, [value](BYTE* at, DWORD size) {
        if (!Fits(size, value)) return VZP_ERROR_VALUE_TOO_LARGE;
        StoreValue(at, size, value);
        return VZP_OK;
    });
}

vzp_status StatisticsPublisher::SetValues(InstanceHandle handle, const ULONGLONG* values,
                                          std::size_t count) noexcept {
    const Slot* slot = LiveSlot(handle);
    if (slot == nullptr) return VZP_ERROR_UNKNOWN_INSTANCE;
    const RecordLayout& layout = *slot->layout;
    if (count != layout.values.size()) return VZP_ERROR_COUNT_MISMATCH;
    if (values == nullptr) return VZP_ERROR_INVALID_ARGUMENT;
    for (std::size_t i = 0; i < count; ++i)
        if (!Fits(layout.values[i].size, values[i])) return VZP_ERROR_VALUE_TOO_LARGE;
    for (std::size_t i = 0; i < count; ++i)
        StoreValue(slot->record + layout.values[i].offset, layout.values[i].size, values[i]);
    return VZP_OK;
}

vzp_status StatisticsPublisher::AddToValue(InstanceHandle handle, DWORD counter,
                                           LONGLONG delta) noexcept {
    return UpdateValue(handle, counter, [delta](BYTE* at, DWORD size) {
        if (size == 8)
            __atomic_fetch_add(reinterpret_cast<ULONGLONG*>(at), static_cast<ULONGLONG>(delta),
                               __ATOMIC_RELAXED);
        else if (size == 4)
            __atomic_fetch_add(reinterpret_cast<DWORD*>(at), static_cast<DWORD>(delta),
                               __ATOMIC_RELAXED);
        else if (delta != 0)
            return VZP_ERROR_VALUE_TOO_LARGE;
        return VZP_OK;
    });
}

}  // namespace provider
}  // namespace vz
