// The one UTF-8 <-> UTF-16 conversion of the project. Invalid input never
// fails a conversion: each byte of an invalid UTF-8 sequence (bad lead or
// continuation, overlong form, surrogate, beyond U+10FFFF) becomes U+FFFD, and
// an unpaired surrogate becomes U+FFFD in UTF-8. Callers that must refuse
// invalid text use the `valid` result.
#pragma once
#include <cstddef>
#include <string>

namespace vz {

// Decodes `count` bytes, appending to *out; false when any sequence was invalid.
bool DecodeUtf8(const unsigned char* bytes, std::size_t count, std::u16string* out);
std::u16string Utf8ToUtf16(const std::string& text);

// The UTF-8 bytes of one code point (a surrogate becomes U+FFFD); returns 1 to 4.
std::size_t EncodeUtf8(char32_t codePoint, unsigned char bytes[4]) noexcept;
// The code point at text[*pos] (a valid surrogate pair is joined, an unpaired
// surrogate becomes U+FFFD); *pos moves past it.
char32_t NextCodePoint(const char16_t* text, std::size_t length, std::size_t* pos) noexcept;
std::string Utf16ToUtf8(const char16_t* text, std::size_t length);
inline std::string Utf16ToUtf8(const std::u16string& text) {
    return Utf16ToUtf8(text.data(), text.size());
}

}  // namespace vz
