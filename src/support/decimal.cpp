// Lenient and strict decimal reading.
#include "support/decimal.h"

#include <climits>
#include <sstream>

namespace vz {
namespace {

bool IsWideSpace(WCHAR ch) { return ch == u' ' || (ch >= u'\t' && ch <= u'\r'); }
bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

std::string Quoted(std::string_view what, std::string_view text) {
    return std::string(what) + ": '" + std::string(text) + "'";
}

}  // namespace

LeadingDecimal ScanLeadingDecimal(const WCHAR* text, std::size_t length) noexcept {
    LeadingDecimal result;
    std::size_t pos = 0;
    while (pos < length && IsWideSpace(text[pos])) ++pos;
    if (pos < length && (text[pos] == u'+' || text[pos] == u'-')) result.negative = text[pos++] == u'-';
    for (; pos < length && text[pos] >= u'0' && text[pos] <= u'9'; ++pos) {
        result.magnitude = result.magnitude * 10 + static_cast<unsigned>(text[pos] - u'0');
        if (result.magnitude > kDecimalMagnitudeCap) result.magnitude = kDecimalMagnitudeCap;
    }
    return result;
}

LONG WideToInt(const WCHAR* text, std::size_t length) noexcept {
    const LeadingDecimal number = ScanLeadingDecimal(text, length);
    const long long value = number.negative ? -static_cast<long long>(number.magnitude)
                                            : static_cast<long long>(number.magnitude);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<LONG>(value);
}

DWORD WideToUnsigned32(const WCHAR* text, std::size_t length) noexcept {
    const LeadingDecimal number = ScanLeadingDecimal(text, length);
    const DWORD value = number.magnitude > 0xFFFFFFFFu ? 0xFFFFFFFFu
                                                       : static_cast<DWORD>(number.magnitude);
    return number.negative ? 0u - value : value;
}

bool ParseWholeNumber(std::string_view what, std::string_view text, ULONGLONG minimum,
                      ULONGLONG maximum, ULONGLONG* value, std::string* error) {
    ULONGLONG number = 0;
    bool tooLarge = false;
    for (char ch : text) {
        if (!IsDigit(ch)) {
            *error = Quoted(what, text) + " is not a whole number";
            return false;
        }
        if (number > (~0ull - 9) / 10) tooLarge = true;
        else number = number * 10 + static_cast<unsigned>(ch - '0');
    }
    if (text.empty()) {
        *error = std::string(what) + ": a whole number is needed";
        return false;
    }
    if (tooLarge || number < minimum || number > maximum) {
        *error = Quoted(what, text) + " is out of range (" + std::to_string(minimum) + " to " +
                 std::to_string(maximum) + ")";
        return false;
    }
    *value = number;
    return true;
}

bool ParseSeconds(std::string_view what, std::string_view text, double minimum, double maximum,
                  double* seconds, std::string* error) {
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    bool valid = !whole.empty() && (point == std::string_view::npos || !fraction.empty());
    for (char ch : whole) valid = valid && IsDigit(ch);
    for (char ch : fraction) valid = valid && IsDigit(ch);
    if (!valid) {
        *error = Quoted(what, text) + " is not a number of seconds (like 2 or 0.5)";
        return false;
    }
    double value = 0;
    for (char ch : whole) value = value * 10 + (ch - '0');
    // The fraction as one integer over a power of ten, so "0.1" is the nearest
    // double to a tenth; digits beyond the fifteenth cannot change it.
    double numerator = 0, denominator = 1;
    for (std::size_t i = 0; i < fraction.size() && i < 15; ++i) {
        numerator = numerator * 10 + (fraction[i] - '0');
        denominator *= 10;
    }
    value += numerator / denominator;
    if (value < minimum || value > maximum) {
        std::ostringstream range;
        range << " is out of range (" << minimum << " to " << maximum << " seconds)";
        *error = Quoted(what, text) + range.str();
        return false;
    }
    *seconds = value;
    return true;
}

std::size_t WriteDecimal(DWORD value, std::size_t minimumDigits, WCHAR* out) noexcept {
    WCHAR digits[kMaxDecimalDigits];
    std::size_t count = 0;
    do {
        digits[count++] = static_cast<WCHAR>(u'0' + value % 10);
        value /= 10;
    } while (value != 0);
    if (minimumDigits > kMaxDecimalDigits) minimumDigits = kMaxDecimalDigits;
    while (count < minimumDigits) digits[count++] = u'0';
    for (std::size_t i = 0; i < count; ++i) out[i] = digits[count - 1 - i];
    return count;
}

}  // namespace vz
