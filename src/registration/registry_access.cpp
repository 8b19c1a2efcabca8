#include "registration/registry_access.h"

#include "support/checked_copy.h"

namespace vz {

void FormatLanguageCode(LANGID language, WCHAR code[4]) {
    static const char digits[] = "0123456789abcdef";
    unsigned primary = language & 0x3FFu;
    code[0] = static_cast<WCHAR>(digits[(primary >> 8) & 0xF]);
    code[1] = static_cast<WCHAR>(digits[(primary >> 4) & 0xF]);
    code[2] = static_cast<WCHAR>(digits[primary & 0xF]);
    code[3] = 0;
}

LONG ReadDwordValue(plat::HKEY key, const WCHAR* name, DWORD* value) {
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof(data);
    LONG error = plat::RegQueryValueExW(key, name, nullptr, &type,
                                        reinterpret_cast<BYTE*>(&data), &size);
    // A value too long for a DWORD (a REG_SZ "700", a REG_QWORD) is the wrong
    // kind of value, not a buffer to grow: the short read's ERROR_MORE_DATA
    // does not hide the type check.
    if (error == ERROR_MORE_DATA) return ERROR_INVALID_DATA;
    if (error != ERROR_SUCCESS) return error;
    if (type != plat::REG_DWORD || size != sizeof(data)) return ERROR_INVALID_DATA;
    *value = data;
    return ERROR_SUCCESS;
}

LONG WriteDwordValue(plat::HKEY key, const WCHAR* name, DWORD value) {
    return plat::RegSetValueExW(key, name, 0, plat::REG_DWORD,
                                reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

LONG WriteStringValue(plat::HKEY key, const WCHAR* name, const WCHAR* text) {
    if (text == nullptr) return ERROR_INVALID_DATA;
    std::size_t bytes = (WideLength(text) + 1) * sizeof(WCHAR);
    if (bytes > 0xFFFFFFFFu) return ERROR_INVALID_DATA;
    return plat::RegSetValueExW(key, name, 0, plat::REG_SZ, reinterpret_cast<const BYTE*>(text),
                                static_cast<DWORD>(bytes));
}

LONG ReadTitleRanges(plat::HKEY performanceKey, TitleRanges* ranges) {
    LONG error = ReadDwordValue(performanceKey, u"First Counter", &ranges->firstCounter);
    if (error == ERROR_SUCCESS) error = ReadDwordValue(performanceKey, u"First Help", &ranges->firstHelp);
    if (error == ERROR_SUCCESS) error = ReadDwordValue(performanceKey, u"Last Counter", &ranges->lastCounter);
    if (error == ERROR_SUCCESS) error = ReadDwordValue(performanceKey, u"Last Help", &ranges->lastHelp);
    return error;
}

}  // namespace vz
