// The name of a block of the provider's chain, shared by the library (which
// opens the blocks) and the provider (which creates them); the name of the
// publisher's claim, shared by the provider and the tools that ask for it.
#include "sharedmem/byte_layout.h"
#include "support/decimal.h"

#include <initializer_list>

namespace vz {

std::size_t FormatBlockName(const char16_t* application, DWORD number, char16_t* out,
                            std::size_t outCount) noexcept {
    static constexpr char16_t kPrefix[] = u"Global\\ATLPERF_";
    std::size_t n = 0;
    auto put = [&](char16_t ch) {
        if (n + 1 >= outCount) return false;
        out[n++] = ch;
        return true;
    };
    for (const char16_t* p = kPrefix; *p; ++p)
        if (!put(*p)) return 0;
    for (const char16_t* p = application; p && *p; ++p)
        if (!put(*p)) return 0;
    if (!put(u'_')) return 0;
    char16_t digits[kMaxDecimalDigits];
    const std::size_t count = WriteDecimal(number, 3, digits);
    for (std::size_t i = 0; i < count; ++i)
        if (!put(digits[i])) return 0;
    out[n] = 0;
    return n;
}

std::size_t FormatClaimName(const char16_t* application, char16_t* out,
                            std::size_t outCount) noexcept {
    std::size_t n = 0;
    for (const char16_t* part : {u"Global\\ATLPERF_", application, u"_publisher"})
        for (const char16_t* p = part; p && *p; ++p) {
            if (n + 1 >= outCount) return 0;
            out[n++] = *p;
        }
    out[n] = 0;
    return n;
}

}  // namespace vz
