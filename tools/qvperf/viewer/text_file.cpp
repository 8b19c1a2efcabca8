#include "viewer/text_file.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include "support/utf_text.h"
#endif

namespace qvperf {

std::FILE* OpenFile(const std::string& utf8Path, const char* mode) {
#ifdef _WIN32
    const std::u16string path = vz::Utf8ToUtf16(utf8Path);
    const std::u16string wideMode = vz::Utf8ToUtf16(mode);
    return _wfopen(reinterpret_cast<const wchar_t*>(path.c_str()),
                   reinterpret_cast<const wchar_t*>(wideMode.c_str()));
#else
    return std::fopen(utf8Path.c_str(), mode);
#endif
}

bool ReadFile(const std::string& utf8Path, std::string* text, std::string* error) {
    std::FILE* file = OpenFile(utf8Path, "rb");
    if (file == nullptr) {
        *error = "cannot read " + utf8Path + " (" + std::strerror(errno) + ")";
        return false;
    }
    text->clear();
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text->append(buffer, n);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) *error = "reading " + utf8Path + " failed";
    return !failed;
}

}  // namespace qvperf
