// Decimal numbers in text: the one writer of decimal digits in UTF-16, and two
// kinds of reading, one implementation each:
// - the lenient, _wtoi-style reading of perflib's query words and pair-list
//   indices: leading white space, an optional sign, then the leading digits;
//   text without leading digits reads as 0 and nothing is ever an error;
// - the strict reading of command-line values for the tools: the whole text
//   must be the number, and it must lie in the range the caller gives.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

#include "support/types.h"

namespace vz {

// The digits of `value`, at least `minimumDigits` of them (leading zeros), into
// `out`, which has room for kMaxDecimalDigits units; returns the units written.
constexpr std::size_t kMaxDecimalDigits = 10;
[[nodiscard]] std::size_t WriteDecimal(DWORD value, std::size_t minimumDigits, WCHAR* out) noexcept;

// The sign and magnitude of the leading number of [text, text + length). The
// magnitude saturates at kDecimalMagnitudeCap, beyond every 32-bit value.
struct LeadingDecimal {
    bool negative = false;
    ULONGLONG magnitude = 0;
};
constexpr ULONGLONG kDecimalMagnitudeCap = 0x100000000ull;
LeadingDecimal ScanLeadingDecimal(const WCHAR* text, std::size_t length) noexcept;

// _wtoi: saturates at INT_MIN and INT_MAX (the query words).
LONG WideToInt(const WCHAR* text, std::size_t length) noexcept;
// The magnitude saturated at 0xFFFFFFFF, a minus sign negating it in unsigned
// 32-bit arithmetic (the pair-list indices, compared as unsigned 32-bit).
DWORD WideToUnsigned32(const WCHAR* text, std::size_t length) noexcept;

// Strict: decimal digits only, no sign, no blanks, within [minimum, maximum].
// On failure *error says why ("-sc: 'x1' is not a whole number").
[[nodiscard]] bool ParseWholeNumber(std::string_view what, std::string_view text, ULONGLONG minimum,
                      ULONGLONG maximum, ULONGLONG* value, std::string* error);
// Strict: digits with an optional fraction ("2", "0.5", "1.25"), within
// [minimum, maximum] seconds.
[[nodiscard]] bool ParseSeconds(std::string_view what, std::string_view text, double minimum, double maximum,
                  double* seconds, std::string* error);

}  // namespace vz
