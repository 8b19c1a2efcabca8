// Typed values of the registry-script language: "= <type> <text>" after a key
// name or a Val name, written with RegSetValueExW or skipped unread.
#include "module/registry_script.h"

#include "module/script_tables.h"
#include "support/allocation.h"

namespace vz {

namespace {

std::size_t TextLength(const WCHAR* text) {
    std::size_t length = 0;
    while (text[length] != 0) ++length;
    return length;
}

BYTE HexDigitValue(WCHAR ch) {
    if (ch >= u'0' && ch <= u'9') return static_cast<BYTE>(ch - u'0');
    if (ch >= u'A' && ch <= u'F') return static_cast<BYTE>(ch - u'A' + 10);
    if (ch >= u'a' && ch <= u'f') return static_cast<BYTE>(ch - u'a' + 10);
    return 0;  // anything else counts as a zero digit
}

// "\0" separates the strings; the value ends with its first empty string.
LONG WriteMultiString(plat::HKEY key, const WCHAR* name, const WCHAR* text) {
    const std::size_t length = TextLength(text);
    WCHAR* strings = static_cast<WCHAR*>(AllocateRaw((length + 2) * sizeof(WCHAR)));
    if (strings == nullptr) return ERROR_OUTOFMEMORY;
    std::size_t out = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] == u'\\' && text[i + 1] == u'0') {
            strings[out++] = 0;
            ++i;
        } else {
            strings[out++] = text[i];
        }
    }
    strings[out++] = 0;
    strings[out++] = 0;

    std::size_t counted = 0;
    for (;;) {
        const std::size_t stringLength = TextLength(strings + counted);
        counted += stringLength + 1;
        if (stringLength == 0) break;
    }
    const LONG error =
        plat::RegSetValueExW(key, name, 0, plat::REG_MULTI_SZ,
                             reinterpret_cast<const BYTE*>(strings),
                             static_cast<DWORD>(counted * sizeof(WCHAR)));
    FreeMemory(strings);
    return error;
}

}  // namespace

HRESULT CRegistryScript::WriteValue(CKeyHandle& key, const WCHAR* name, WCHAR* token) {
    HRESULT hr = ReadToken(token);
    if (Failed(hr)) return hr;
    DWORD type = 0;
    if (!ValueTypeFromLetter(token, &type)) return DISP_E_EXCEPTION;
    SkipBlanks();
    WCHAR text[kTokenUnits];
    hr = ReadToken(text);
    if (Failed(hr)) return hr;

    const std::size_t length = TextLength(text);
    LONG error = ERROR_SUCCESS;
    switch (type) {
    case plat::REG_SZ:
        error = plat::RegSetValueExW(key.key, name, 0, plat::REG_SZ,
                                     reinterpret_cast<const BYTE*>(text),
                                     static_cast<DWORD>((length + 1) * sizeof(WCHAR)));
        break;
    case plat::REG_MULTI_SZ:
        error = WriteMultiString(key.key, name, text);
        break;
    case plat::REG_DWORD: {
        // A text the conversion rejects leaves the number at 0.
        ULONG number = 0;
        plat::VarUI4FromStr(text, 0, 0, &number);
        DWORD data = number;
        error = plat::RegSetValueExW(key.key, name, 0, plat::REG_DWORD,
                                     reinterpret_cast<const BYTE*>(&data), sizeof(data));
        break;
    }
    case plat::REG_BINARY: {
        if (length % 2 != 0) return E_FAIL;
        const std::size_t byteCount = length / 2;
        BYTE* bytes = static_cast<BYTE*>(AllocateRaw(byteCount > 0 ? byteCount : 1));
        if (bytes == nullptr) return E_FAIL;
        for (std::size_t i = 0; i < byteCount; ++i)
            bytes[i] = static_cast<BYTE>((HexDigitValue(text[2 * i]) << 4) |
                                         HexDigitValue(text[2 * i + 1]));
        error = plat::RegSetValueExW(key.key, name, 0, plat::REG_BINARY, bytes,
                                     static_cast<DWORD>(byteCount));
        FreeMemory(bytes);
        break;
    }
    default:
        return DISP_E_EXCEPTION;
    }
    if (error != ERROR_SUCCESS) return HResultFromWin32(error);
    return ReadToken(token);
}

HRESULT CRegistryScript::SkipValueSpec(WCHAR* token) {
    if (token[0] != u'=') return S_OK;
    HRESULT hr = ReadToken(token);  // the type, not looked up
    if (Failed(hr)) return hr;
    SkipBlanks();
    WCHAR text[kTokenUnits];
    hr = ReadToken(text);
    if (Failed(hr)) return hr;
    return ReadToken(token);
}

}  // namespace vz
