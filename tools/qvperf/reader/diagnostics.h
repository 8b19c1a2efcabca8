// How qvperf reports: messages on standard error, prefixed with its name, and
// the exit status a failure or a mistake ends with.
#pragma once
#include <cstdio>
#include <string>

namespace qvperf {

constexpr int kExitFailure = 1;  // reading the counters or writing the output failed
constexpr int kExitMistake = 2;  // the command line, a counter path or the -cf file is wrong

inline void Warn(const std::string& message) {
    std::fprintf(stderr, "qvperf: %s\n", message.c_str());
}

inline int Fail(int code, const std::string& message) {
    Warn(message);
    return code;
}

}  // namespace qvperf
