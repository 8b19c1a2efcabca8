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

std::u16string Utf8ToUtf16(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        char32_t cp = 0xFFFD;
        std::size_t extra = 0;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            extra = 2;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            extra = 3;
        }
        ++i;
        for (std::size_t k = 0; k < extra; ++k, ++i) {
            if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
                cp = 0xFFFD;
                break;
            }
            cp = (cp << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
        }
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(cp > 0x10FFFF ? u'\xFFFD' : static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string Utf16ToUtf8(const char16_t* text, std::size_t length) {
    std::string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < length && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

}  // namespace vz
