// The command-line tools' arguments as UTF-8 strings, whether the platform
// passes them as UTF-16 (Windows' wmain) or as bytes.
#pragma once
#include <string>
#include <vector>

#include "support/utf_text.h"

namespace vz_tools {

#ifdef _WIN32
inline std::vector<std::string> Arguments(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(vz::Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(argv[i]))));
    return args;
}
#else
inline std::vector<std::string> Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}
#endif

}  // namespace vz_tools

// The program's entry point, wmain on Windows (UTF-16 arguments) and main
// elsewhere, handing the arguments after the program name to `run`.
#ifdef _WIN32
#define VZ_TOOL_ENTRY_POINT(run) \
    int wmain(int argc, wchar_t** argv) { return run(vz_tools::Arguments(argc, argv)); }
#else
#define VZ_TOOL_ENTRY_POINT(run) \
    int main(int argc, char** argv) { return run(vz_tools::Arguments(argc, argv)); }
#endif
