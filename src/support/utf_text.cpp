// UTF-8 <-> UTF-16. Self-contained (standard library only) so that the build's
// host-side resource generator can compile it too.
#include "support/utf_text.h"

#include <cstdint>

namespace vz {

bool DecodeUtf8(const unsigned char* bytes, std::size_t count, std::u16string* out) {
    static const std::uint32_t kMinimum[4] = {0, 0x80, 0x800, 0x10000};
    bool allValid = true;
    std::size_t i = 0;
    while (i < count) {
        const unsigned char lead = bytes[i];
        const std::size_t extra = lead < 0x80            ? 0
                                  : (lead >> 5) == 0x6   ? 1
                                  : (lead >> 4) == 0xE   ? 2
                                  : (lead >> 3) == 0x1E  ? 3
                                                         : 4;
        bool valid = extra < 4;
        std::uint32_t code = valid ? lead & (0x7Fu >> extra) : 0;
        for (std::size_t k = 1; valid && k <= extra; ++k) {
            if (i + k >= count || (bytes[i + k] & 0xC0) != 0x80) valid = false;
            else code = (code << 6) | (bytes[i + k] & 0x3F);
        }
        if (valid && (code < kMinimum[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)))
            valid = false;
        if (!valid) {
            out->push_back(u'\xFFFD');
            allValid = false;
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out->push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out->push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out->push_back(static_cast<char16_t>(code));
        }
        i += extra + 1;
    }
    return allValid;
}

std::u16string Utf8ToUtf16(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    DecodeUtf8(reinterpret_cast<const unsigned char*>(text.data()), text.size(), &out);
    return out;
}

std::size_t EncodeUtf8(char32_t cp, unsigned char bytes[4]) noexcept {
    if (cp < 0x80) {
        bytes[0] = static_cast<unsigned char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        bytes[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
        bytes[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if ((cp >= 0xD800 && cp < 0xE000) || cp > 0x10FFFF) cp = 0xFFFD;
    if (cp < 0x10000) {
        bytes[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
        bytes[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        bytes[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 3;
    }
    bytes[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
    bytes[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
    bytes[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    bytes[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    return 4;
}

char32_t NextCodePoint(const char16_t* text, std::size_t length, std::size_t* pos) noexcept {
    char32_t cp = text[(*pos)++];
    if (cp >= 0xD800 && cp < 0xDC00 && *pos < length && text[*pos] >= 0xDC00 &&
        text[*pos] < 0xE000)
        return 0x10000 + ((cp - 0xD800) << 10) + (text[(*pos)++] - 0xDC00);
    return cp >= 0xD800 && cp < 0xE000 ? 0xFFFD : cp;
}

std::string Utf16ToUtf8(const char16_t* text, std::size_t length) {
    std::string out;
    out.reserve(length);
    for (std::size_t pos = 0; pos < length;) {
        unsigned char bytes[4];
        const std::size_t count = EncodeUtf8(NextCodePoint(text, length, &pos), bytes);
        out.append(reinterpret_cast<const char*>(bytes), count);
    }
    return out;
}

}  // namespace vz
