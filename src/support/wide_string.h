// A reference-counted UTF-16 string value. Copies share one buffer; the first
// change to a shared buffer gives the changing copy a buffer of its own.
// Allocation failure raises std::bad_alloc.
#pragma once
#include <cstddef>
#include <string>

#include "support/types.h"
#include "support/utf_text.h"

namespace vz {

class WString {
public:
    WString() noexcept = default;
    WString(const WCHAR* text);  // NOLINT: a null pointer gives the empty string
    WString(const WCHAR* text, std::size_t length);
    WString(const WString& other) noexcept;
    WString(WString&& other) noexcept;
    WString& operator=(const WString& other) noexcept;
    WString& operator=(WString&& other) noexcept;
    ~WString();

    // Never null: an empty string yields a pointer to a terminator.
    const WCHAR* c_str() const noexcept;
    std::size_t Length() const noexcept;
    bool IsEmpty() const noexcept { return Length() == 0; }

    void Append(const WCHAR* text, std::size_t length);
    void Append(const WCHAR* text);
    void Append(const WString& text) { Append(text.c_str(), text.Length()); }
    void AppendChar(WCHAR ch) { Append(&ch, 1); }
    void Empty() noexcept;

    bool operator==(const WString& other) const noexcept;
    bool operator!=(const WString& other) const noexcept { return !(*this == other); }

    // Conversions for tests and tools; UTF-8 on the narrow side.
    static WString FromUtf8(const std::string& text);
    std::string ToUtf8() const;
    std::u16string ToU16() const { return std::u16string(c_str(), Length()); }

private:
    struct Buffer;
    void Release() noexcept;
    void Reserve(std::size_t capacity);  // makes the buffer unshared, with room
    Buffer* buffer_ = nullptr;
};

}  // namespace vz
