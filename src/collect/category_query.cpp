// Which categories perflib's query string asks for: "Global" (any case) asks
// for all; otherwise each blank-separated word is read as a decimal number, the
// way _wtoi reads it, and compared with the category's name title index.
#include "objectmap/perfmon.h"
#include "support/decimal.h"

namespace ATL {

bool CPerfMon::IsCategoryRequested(const vz::WCHAR* valueName, vz::DWORD titleIndex) {
    if (valueName == nullptr) return false;
    if (vz::plat::lstrcmpiW(valueName, u"Global") == 0) return true;
    const vz::WCHAR* p = valueName;
    while (*p != 0) {
        while (*p == u' ') ++p;
        if (*p == 0) break;
        const vz::WCHAR* word = p;
        while (*p != 0 && *p != u' ') ++p;
        const auto length = static_cast<std::size_t>(p - word);
        if (static_cast<vz::DWORD>(vz::WideToInt(word, length)) == titleIndex) return true;
    }
    return false;
}

}  // namespace ATL
