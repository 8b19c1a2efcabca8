// Text functions of the emulated platform.
//
// - CharNextW: one step is one UTF-16 unit, or a surrogate pair, together with
//   the combining diacritical marks U+0300..U+036F that follow it. At the
//   terminating NUL it does not move.
// - lstrcmpiW: compares unit by unit after case folding (case_fold.h); the
//   order is that of the folded code units, not a linguistic one.
// - MultiByteToWideChar: CP_ACP, CP_THREAD_ACP and 1252 read the bytes as
//   Windows-1252 (the five bytes 1252 leaves undefined map to U+0081 and so on);
//   CP_UTF8 reads UTF-8, invalid sequences giving U+FFFD.
// - VarUI4FromStr: blanks around the number, an optional sign, decimal digits
//   with an optional fraction (rounded half to even), or "&H"/"&O" followed by
//   hexadecimal/octal digits. Values beyond 32 bits and negative values give
//   DISP_E_OVERFLOW, any other text DISP_E_TYPEMISMATCH.
#include <cstdint>
#include <string>

#include "platform/emulated/case_fold.h"
#include "platform/platform.h"
#include "support/hresult.h"
#include "support/utf_text.h"

namespace vz {
namespace emu {
namespace detail {

char16_t FoldCase(char16_t c) {
    if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x137) return static_cast<char16_t>(c & ~1u);
    if (c >= 0x139 && c <= 0x148) return (c & 1) ? c : static_cast<char16_t>(c - 1);
    if (c >= 0x14A && c <= 0x177) return static_cast<char16_t>(c & ~1u);
    if (c >= 0x179 && c <= 0x17E) return (c & 1) ? c : static_cast<char16_t>(c - 1);
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return static_cast<char16_t>(c - 0x20);
    if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
    if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
    return c;
}

}  // namespace detail
}  // namespace emu

namespace plat {
namespace {

constexpr DWORD CP_ACP = 0;
constexpr DWORD CP_UTF8 = 65001;
constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
constexpr HRESULT DISP_E_OVERFLOW = static_cast<HRESULT>(0x8002000Au);

bool IsCombiningMark(char16_t c) { return c >= 0x0300 && c <= 0x036F; }

const char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

std::u16string DecodeWindows1252(const unsigned char* bytes, std::size_t count) {
    std::u16string out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char b = bytes[i];
        out.push_back(b >= 0x80 && b < 0xA0 ? kWindows1252High[b - 0x80] : static_cast<char16_t>(b));
    }
    return out;
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

int DigitValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return 99;
}

}  // namespace

const WCHAR* CharNextW(const WCHAR* text) {
    if (text == nullptr || *text == 0) return text;
    const WCHAR* next = text + 1;
    if (*text >= 0xD800 && *text <= 0xDBFF && *next >= 0xDC00 && *next <= 0xDFFF) ++next;
    while (IsCombiningMark(*next)) ++next;
    return next;
}

int lstrcmpiW(const WCHAR* a, const WCHAR* b) {
    if (a == nullptr || b == nullptr) return a == b ? 0 : (a == nullptr ? -1 : 1);
    for (;; ++a, ++b) {
        const char16_t x = emu::detail::FoldCase(*a), y = emu::detail::FoldCase(*b);
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) return 0;
    }
}

int lstrlenW(const WCHAR* text) {
    if (text == nullptr) return 0;
    int length = 0;
    while (text[length] != 0) ++length;
    return length;
}

int MultiByteToWideChar(DWORD codePage, DWORD, const char* text, int length, WCHAR* buffer,
                        int bufferLength) {
    if (text == nullptr || length == 0 || length < -1 || bufferLength < 0 ||
        (buffer == nullptr && bufferLength != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::size_t count = length == -1 ? std::char_traits<char>::length(text) + 1
                                     : static_cast<std::size_t>(length);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    std::u16string wide;
    if (codePage == CP_ACP || codePage == CP_THREAD_ACP || codePage == 1252) {
        wide = DecodeWindows1252(bytes, count);
    } else if (codePage == CP_UTF8) {
        DecodeUtf8(bytes, count, &wide);
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (bufferLength == 0) return static_cast<int>(wide.size());
    if (wide.size() > static_cast<std::size_t>(bufferLength)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    wide.copy(buffer, wide.size());
    return static_cast<int>(wide.size());
}

HRESULT VarUI4FromStr(const WCHAR* text, LCID, ULONG, ULONG* result) {
    if (text == nullptr || result == nullptr) return E_INVALIDARG;
    const WCHAR* p = text;
    while (IsBlank(*p)) ++p;
    bool negative = false;
    if (*p == u'+' || *p == u'-') negative = *p++ == u'-';
    unsigned base = 10;
    if (*p == u'&' && (p[1] == u'H' || p[1] == u'h')) base = 16;
    if (*p == u'&' && (p[1] == u'O' || p[1] == u'o')) base = 8;
    if (base != 10) p += 2;
    std::uint64_t value = 0;
    bool digits = false, overflow = false;
    for (; DigitValue(*p) < static_cast<int>(base); ++p) {
        digits = true;
        value = value * base + static_cast<unsigned>(DigitValue(*p));
        if (value > 0xFFFFFFFFull) overflow = true, value = 0x100000000ull;
    }
    if (base == 10 && *p == u'.') {
        ++p;
        int first = -1;
        bool rest = false;
        for (; *p >= u'0' && *p <= u'9'; ++p) {
            digits = true;
            if (first < 0) first = *p - u'0';
            else if (*p != u'0') rest = true;
        }
        // Round half to even, as the automation conversions do.
        if (first > 5 || (first == 5 && (rest || (value & 1)))) ++value;
    }
    while (IsBlank(*p)) ++p;
    if (!digits || *p != 0) return DISP_E_TYPEMISMATCH;
    if (overflow || value > 0xFFFFFFFFull || (negative && value != 0)) return DISP_E_OVERFLOW;
    *result = static_cast<ULONG>(value);
    return S_OK;
}

}  // namespace plat
}  // namespace vz
