// A table of entries that one writer appends to under its own lock while any
// thread looks entries up without a lock. Entries never move: the table grows
// by chunks of doubling size (64, 128, 256, ... entries), each published once
// with release ordering, so an index found in a handle leads to its entry in a
// few instructions, and entries never appended are default-constructed.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>

namespace vz {
namespace provider {

template <typename Entry>
class SlotTable {
public:
    // Indices fit the low word of a handle, which stores index + 1.
    static constexpr std::uint64_t kMaxEntries = 0xFFFFFFFEull;

    SlotTable() = default;
    ~SlotTable() { Clear(); }
    SlotTable(const SlotTable&) = delete;
    SlotTable& operator=(const SlotTable&) = delete;

    // Any thread: the entry at `index`, or null when its chunk does not exist.
    Entry* Find(std::uint64_t index) const noexcept {
        if (index >= kMaxEntries) return nullptr;
        const std::uint64_t position = index + kFirstChunkSize;
        const unsigned chunk = 63u - static_cast<unsigned>(__builtin_clzll(position)) - kFirstChunkBits;
        Entry* entries = chunks_[chunk].load(std::memory_order_acquire);
        return entries == nullptr ? nullptr : entries + (position - (kFirstChunkSize << chunk));
    }

    // The writer: the entry at index Size(), its chunk made when needed; null
    // when out of memory or full. It becomes part of the table with Commit().
    Entry* Next() {
        if (size_ >= kMaxEntries) return nullptr;
        const std::uint64_t position = size_ + kFirstChunkSize;
        const unsigned chunk = 63u - static_cast<unsigned>(__builtin_clzll(position)) - kFirstChunkBits;
        if (chunks_[chunk].load(std::memory_order_relaxed) == nullptr) {
            Entry* entries = new (std::nothrow) Entry[kFirstChunkSize << chunk];
            if (entries == nullptr) return nullptr;
            chunks_[chunk].store(entries, std::memory_order_release);
        }
        return Find(size_);
    }
    void Commit() noexcept { ++size_; }

    std::uint64_t Size() const noexcept { return size_; }

    // The writer, while no other thread looks entries up.
    void Clear() noexcept {
        for (std::atomic<Entry*>& chunk : chunks_) delete[] chunk.exchange(nullptr);
        size_ = 0;
    }

private:
    static constexpr unsigned kFirstChunkBits = 6;
    static constexpr std::uint64_t kFirstChunkSize = 1ull << kFirstChunkBits;
    // Enough chunks for kMaxEntries: the last position has bit 32 set.
    static constexpr unsigned kChunks = 33 - kFirstChunkBits;

    std::atomic<Entry*> chunks_[kChunks] = {};
    std::uint64_t size_ = 0;
};

}  // namespace provider
}  // namespace vz
