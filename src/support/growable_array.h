// A growable array that stores its records by value in contiguous storage.
// When full it grows to the larger of the requested count and capacity + step;
// the step is the grow step if set, else count / 8 bounded to [4, 1024]. New
// storage is zero-filled and existing records are moved into it. Indexing
// beyond the count raises CAtlException(E_INVALIDARG).
#pragma once
#include <new>
#include <utility>

#include "support/allocation.h"
#include "support/atl_exception.h"

namespace vz {

template <typename T>
class GrowableArray {
public:
    GrowableArray() noexcept = default;
    GrowableArray(const GrowableArray&) = delete;
    GrowableArray& operator=(const GrowableArray&) = delete;
    GrowableArray(GrowableArray&& other) noexcept
        : data_(other.data_), count_(other.count_), capacity_(other.capacity_),
          growStep_(other.growStep_) {
        other.data_ = nullptr;
        other.count_ = other.capacity_ = 0;
    }
    ~GrowableArray() { RemoveAll(); }

    std::size_t GetCount() const noexcept { return count_; }
    std::size_t GetCapacity() const noexcept { return capacity_; }
    bool IsEmpty() const noexcept { return count_ == 0; }
    void SetGrowStep(std::size_t step) noexcept { growStep_ = step; }

    T& operator[](std::size_t index) {
        if (index >= count_) ATL::AtlThrow(E_INVALIDARG);
        return data_[index];
    }
    const T& operator[](std::size_t index) const {
        if (index >= count_) ATL::AtlThrow(E_INVALIDARG);
        return data_[index];
    }
    T* GetData() noexcept { return data_; }
    const T* GetData() const noexcept { return data_; }
    T* begin() noexcept { return data_; }
    T* end() noexcept { return data_ + count_; }
    const T* begin() const noexcept { return data_; }
    const T* end() const noexcept { return data_ + count_; }

    // Appends a value-initialised record; false when the storage cannot grow.
    bool Add() { return SetCount(count_ + 1); }
    bool Add(const T& value) {
        if (!GrowTo(count_ + 1)) return false;
        new (data_ + count_) T(value);
        ++count_;
        return true;
    }
    bool Add(T&& value) {
        if (!GrowTo(count_ + 1)) return false;
        new (data_ + count_) T(std::move(value));
        ++count_;
        return true;
    }

    // Changes the count: new records are value-initialised, removed ones destroyed.
    bool SetCount(std::size_t count) {
        if (count > count_) {
            if (!GrowTo(count)) return false;
            for (std::size_t i = count_; i < count; ++i) new (data_ + i) T();
        } else {
            for (std::size_t i = count; i < count_; ++i) data_[i].~T();
        }
        count_ = count;
        return true;
    }

    // Destroys every record in ascending order and frees the storage.
    void RemoveAll() noexcept {
        for (std::size_t i = 0; i < count_; ++i) data_[i].~T();
        FreeMemory(data_);
        data_ = nullptr;
        count_ = capacity_ = 0;
    }

    // The capacity this array would grow to for a request of `wanted` records.
    std::size_t GrownCapacity(std::size_t wanted) const noexcept {
        std::size_t step = growStep_;
        if (step == 0) {
            step = count_ / 8;
            if (step < 4) step = 4;
            if (step > 1024) step = 1024;
        }
        std::size_t grown = capacity_ + step;
        return wanted > grown ? wanted : grown;
    }

private:
    bool GrowTo(std::size_t wanted) {
        if (wanted <= capacity_) return true;
        std::size_t capacity = GrownCapacity(wanted);
        if (capacity > static_cast<std::size_t>(-1) / sizeof(T)) return false;
        T* fresh = static_cast<T*>(AllocateZeroed(capacity, sizeof(T)));
        if (fresh == nullptr) return false;
        for (std::size_t i = 0; i < count_; ++i) {
            new (fresh + i) T(std::move(data_[i]));
            data_[i].~T();
        }
        FreeMemory(data_);
        data_ = fresh;
        capacity_ = capacity;
        return true;
    }

    T* data_ = nullptr;
    std::size_t count_ = 0;
    std::size_t capacity_ = 0;
    std::size_t growStep_ = 0;
};

}  // namespace vz
