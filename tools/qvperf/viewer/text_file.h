// Files named on the command line, whose names are UTF-8 here and may hold
// any character (on Windows they are opened through the wide-character API).
#pragma once
#include <cstdio>
#include <string>

namespace qvperf {

// std::fopen with a UTF-8 file name; null with errno set on failure.
std::FILE* OpenFile(const std::string& utf8Path, const char* mode);

// The whole file into *text; false with a message naming the file.
[[nodiscard]] bool ReadFile(const std::string& utf8Path, std::string* text, std::string* error);

}  // namespace qvperf
