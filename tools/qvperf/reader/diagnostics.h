// How qvperf reports: messages on standard error, prefixed with its name, and
// the exit status a failure or a mistake ends with. A run without a console
// (the Windows service) also hands every message to a copy it installs.
#pragma once
#include <cstdio>
#include <string>

namespace qvperf {

constexpr int kExitFailure = 1;  // reading the counters or writing the output failed
constexpr int kExitMistake = 2;  // the command line, a counter path or the -cf file is wrong

enum class MessageKind { kInformation, kWarning, kError };
using MessageCopy = void (*)(MessageKind kind, const std::string& message);

// Set once, before any thread reports; null: standard error only.
inline MessageCopy& InstalledMessageCopy() {
    static MessageCopy copy = nullptr;
    return copy;
}

inline void ReportMessage(MessageKind kind, const std::string& message) {
    std::fprintf(stderr, "qvperf: %s\n", message.c_str());
    if (MessageCopy copy = InstalledMessageCopy()) copy(kind, message);
}

inline void Note(const std::string& message) { ReportMessage(MessageKind::kInformation, message); }
inline void Warn(const std::string& message) { ReportMessage(MessageKind::kWarning, message); }

inline int Fail(int code, const std::string& message) {
    ReportMessage(MessageKind::kError, message);
    return code;
}

}  // namespace qvperf
