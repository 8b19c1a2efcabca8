// The one scan for the zero unit that ends a UTF-16 text of bounded length,
// for instance names and text values on the collection path and for the texts
// qvperf decodes. Inline and vectorized: it runs for every record of a sample.
#pragma once
#include <cstddef>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "support/types.h"

namespace vz {

// The position of the first zero UTF-16 unit among the `available` units at
// `text`: false when there is none. Reads nothing past those units.
[[nodiscard]] inline bool FindUnitTerminator(const BYTE* text, std::size_t available,
                               std::size_t* units) noexcept {
    std::size_t i = 0;
#if defined(__SSE2__)
    // Eight units at a time where the machine has 16-byte vectors.
    const __m128i zeroUnits = _mm_setzero_si128();
    for (; i + 8 <= available; i += 8) {
        const __m128i units8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 2 * i));
        const unsigned zeroBytes =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(units8, zeroUnits)));
        if (zeroBytes != 0) {
            *units = i + static_cast<std::size_t>(__builtin_ctz(zeroBytes)) / 2;
            return true;
        }
    }
#endif
    // Four units at a time. The lowest lane that (w - 0x0001...) & ~w &
    // 0x8000... flags is the first zero unit: a borrow only runs upwards, into
    // later units on a little-endian machine, so it can flag lanes after the
    // first zero but none before it.
    for (; i + 4 <= available; i += 4) {
        ULONGLONG word;
        std::memcpy(&word, text + 2 * i, sizeof word);
        const ULONGLONG zero =
            (word - 0x0001000100010001ull) & ~word & 0x8000800080008000ull;
        if (zero != 0) {
            *units = i + static_cast<std::size_t>(__builtin_ctzll(zero)) / 16;
            return true;
        }
    }
    for (; i < available; ++i) {
        WCHAR unit;
        std::memcpy(&unit, text + 2 * i, sizeof unit);
        if (unit == 0) {
            *units = i;
            return true;
        }
    }
    return false;
}

}  // namespace vz
