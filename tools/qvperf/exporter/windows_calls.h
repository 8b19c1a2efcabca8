// What the exporter's Windows-only parts (the service, its event log source)
// share: text for the wide API, a failed call as qvperf reports it, and this
// program's own path.
#pragma once
#ifdef _WIN32
#include <windows.h>

#include <string>

#include "support/utf_text.h"

namespace qvperf {

inline std::wstring Wide(const std::string& utf8) {
    const std::u16string text = vz::Utf8ToUtf16(utf8);
    return std::wstring(text.begin(), text.end());
}

// `code` is the call's result, or GetLastError() for calls that set it.
inline std::string CallFailure(const char* what, DWORD code = GetLastError()) {
    return std::string(what) + " failed with error " + std::to_string(code);
}

inline bool ThisProgramPath(std::wstring* path, std::string* error) {
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return (*error = CallFailure("GetModuleFileNameW")), false;
    path->assign(self, length);
    return true;
}

}  // namespace qvperf
#endif
