// qvperf's handling of text it does not control: counter paths from the
// command line and -cf files, and the instance names another process puts in
// shared memory, which the table escapes and measures and the globs match.
// The input is a pattern and a name separated by the first NUL byte.
#include <cstdint>
#include <cstring>
#include <string>

#include "viewer/counter_path.h"
#include "viewer/terminal_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    const void* nul = std::memchr(data, 0, size);
    const std::size_t split = nul ? static_cast<const std::uint8_t*>(nul) - data : size;
    const std::string pattern(text, split);
    const std::string name = split < size ? std::string(text + split + 1, size - split - 1) : "";

    qvperf::CounterPath path;
    std::string error;
    if (qvperf::ParseCounterPath(pattern, &path, &error)) {
        qvperf::PathSelects(path, name, name, name);
        if (qvperf::CounterPathText(path).size() > pattern.size() + 2) __builtin_trap();
    } else if (error.empty()) {
        __builtin_trap();
    }
    // Every text matches itself as a pattern ('*' and '?' can stand for
    // themselves), and "*" matches every text.
    if (!qvperf::NameMatches(name, name)) __builtin_trap();
    if (!qvperf::NameMatches("*", name)) __builtin_trap();
    qvperf::NameMatches(pattern, name);

    // Escaped text has no control character left and takes at most two
    // columns per code point.
    const std::string shown = qvperf::EscapeControls(name);
    for (unsigned char c : shown)
        if (c < 0x20 || c == 0x7F) __builtin_trap();
    if (qvperf::DisplayColumns(shown) > 2 * shown.size()) __builtin_trap();
    return 0;
}
