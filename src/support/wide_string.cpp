#include "support/wide_string.h"

#include <atomic>
#include <cstring>
#include <new>

#include "support/allocation.h"
#include "support/checked_copy.h"

namespace vz {

struct WString::Buffer {
    std::atomic<long> refs;
    std::size_t length;
    std::size_t capacity;  // characters, terminator excluded
    WCHAR* Data() noexcept { return reinterpret_cast<WCHAR*>(this + 1); }
};

namespace {
const WCHAR kEmpty[1] = {0};
}

WString::WString(const WCHAR* text) : WString(text, WideLength(text)) {}

WString::WString(const WCHAR* text, std::size_t length) {
    if (text != nullptr && length != 0) Append(text, length);
}

WString::WString(const WString& other) noexcept : buffer_(other.buffer_) {
    if (buffer_) buffer_->refs.fetch_add(1, std::memory_order_relaxed);
}

WString::WString(WString&& other) noexcept : buffer_(other.buffer_) { other.buffer_ = nullptr; }

WString& WString::operator=(const WString& other) noexcept {
    if (this != &other) {
        if (other.buffer_) other.buffer_->refs.fetch_add(1, std::memory_order_relaxed);
        Release();
        buffer_ = other.buffer_;
    }
    return *this;
}

WString& WString::operator=(WString&& other) noexcept {
    if (this != &other) {
        Release();
        buffer_ = other.buffer_;
        other.buffer_ = nullptr;
    }
    return *this;
}

WString::~WString() { Release(); }

void WString::Release() noexcept {
    if (buffer_ && buffer_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        buffer_->~Buffer();
        FreeMemory(buffer_);
    }
    buffer_ = nullptr;
}

const WCHAR* WString::c_str() const noexcept { return buffer_ ? buffer_->Data() : kEmpty; }

std::size_t WString::Length() const noexcept { return buffer_ ? buffer_->length : 0; }

void WString::Reserve(std::size_t capacity) {
    bool shared = buffer_ && buffer_->refs.load(std::memory_order_acquire) != 1;
    if (buffer_ && !shared && buffer_->capacity >= capacity) return;
    std::size_t length = Length();
    if (buffer_ && capacity < buffer_->capacity) capacity = buffer_->capacity;
    if (buffer_ && !shared && capacity < 2 * buffer_->capacity) capacity = 2 * buffer_->capacity;
    if (capacity > (static_cast<std::size_t>(-1) - sizeof(Buffer)) / sizeof(WCHAR) - 1)
        throw std::bad_alloc();
    void* raw = AllocateRaw(sizeof(Buffer) + (capacity + 1) * sizeof(WCHAR));
    if (raw == nullptr) throw std::bad_alloc();
    Buffer* fresh = new (raw) Buffer{{1}, length, capacity};
    if (length) std::memcpy(fresh->Data(), buffer_->Data(), length * sizeof(WCHAR));
    fresh->Data()[length] = 0;
    Release();
    buffer_ = fresh;
}

void WString::Append(const WCHAR* text, std::size_t length) {
    if (length == 0) return;
    std::size_t old = Length();
    if (length > static_cast<std::size_t>(-1) / 4 - old) throw std::bad_alloc();
    // The source may live inside our own buffer; keep it alive across Reserve.
    const WCHAR* data = c_str();
    bool inside = buffer_ && text >= data && text < data + old;
    WString keep;
    if (inside) keep = *this;
    Reserve(old + length);
    std::memmove(buffer_->Data() + old, text, length * sizeof(WCHAR));
    buffer_->length = old + length;
    buffer_->Data()[old + length] = 0;
}

void WString::Append(const WCHAR* text) { Append(text, WideLength(text)); }

void WString::Empty() noexcept { Release(); }

bool WString::operator==(const WString& other) const noexcept {
    return Length() == other.Length() &&
           std::memcmp(c_str(), other.c_str(), Length() * sizeof(WCHAR)) == 0;
}

WString WString::FromUtf8(const std::string& text) {
    std::u16string wide = Utf8ToUtf16(text);
    return WString(wide.data(), wide.size());
}

std::string WString::ToUtf8() const { return Utf16ToUtf8(c_str(), Length()); }

}  // namespace vz
