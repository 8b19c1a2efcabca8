// Which categories perflib's query string asks for: "Global" (any case) asks
// for all; otherwise each blank-separated word is read as a decimal number, the
// way _wtoi reads it, and compared with the category's name title index.
#include <climits>

#include "objectmap/perfmon.h"

namespace ATL {
namespace {

bool IsWideSpace(vz::WCHAR ch) { return ch == u' ' || (ch >= u'\t' && ch <= u'\r'); }

// _wtoi over [begin, end): optional white space and sign, then digits up to the
// first other unit; saturates at INT_MIN/INT_MAX on overflow.
vz::LONG ParseWord(const vz::WCHAR* begin, const vz::WCHAR* end) {
    const vz::WCHAR* p = begin;
    while (p < end && IsWideSpace(*p)) ++p;
    bool negative = false;
    if (p < end && (*p == u'+' || *p == u'-')) negative = *p++ == u'-';
    long long value = 0;
    for (; p < end && *p >= u'0' && *p <= u'9'; ++p) {
        value = value * 10 + (*p - u'0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    if (value < INT_MIN) value = INT_MIN;
    return static_cast<vz::LONG>(value);
}

}  // namespace

bool CPerfMon::IsCategoryRequested(const vz::WCHAR* valueName, vz::DWORD titleIndex) {
    if (valueName == nullptr) return false;
    if (vz::plat::lstrcmpiW(valueName, u"Global") == 0) return true;
    const vz::WCHAR* p = valueName;
    while (*p != 0) {
        while (*p == u' ') ++p;
        if (*p == 0) break;
        const vz::WCHAR* word = p;
        while (*p != 0 && *p != u' ') ++p;
        if (static_cast<vz::DWORD>(ParseWord(word, p)) == titleIndex) return true;
    }
    return false;
}

}  // namespace ATL
