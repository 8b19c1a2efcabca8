#include "viewer/counter_path.h"

namespace qvperf {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool ParseCounterPath(const std::string& fullText, CounterPath* path, std::string* error) {
    *path = CounterPath();
    std::string text = fullText;
    if (text.compare(0, 2, "\\\\") == 0) {
        const std::size_t end = text.find('\\', 2);
        if (end == std::string::npos || end == 2) {
            *error = "a path that starts with \\\\ names a computer: \\\\Computer\\Object\\Counter";
            return false;
        }
        path->machine = text.substr(2, end - 2);
        text.erase(0, end);
    }
    if (text.size() < 2 || text[0] != '\\') {
        *error = "a counter path starts with a backslash: \\Object(Instance)\\Counter";
        return false;
    }
    const std::size_t lastSlash = text.rfind('\\');
    if (lastSlash == 0) {
        *error = "the counter path has no counter part";
        return false;
    }
    path->counter = text.substr(lastSlash + 1);
    std::string object = text.substr(1, lastSlash - 1);
    // The instance is the parenthesized tail of the object part; instance
    // names may hold parentheses of their own, so match from the end.
    if (!object.empty() && object.back() == ')') {
        int depth = 0;
        std::size_t open = std::string::npos;
        for (std::size_t i = object.size(); i-- > 0;) {
            if (object[i] == ')') ++depth;
            if (object[i] == '(' && --depth == 0) {
                open = i;
                break;
            }
        }
        if (open == std::string::npos) {
            *error = "unbalanced parentheses in the instance part";
            return false;
        }
        path->instance = object.substr(open + 1, object.size() - open - 2);
        path->hasInstance = true;
        object.resize(open);
    }
    path->object = object;
    if (path->object.empty() || path->counter.empty() ||
        (path->hasInstance && path->instance.empty())) {
        *error = "empty object, instance or counter name";
        return false;
    }
    return true;
}

std::string CounterPathText(const CounterPath& path) {
    return "\\" + path.object + (path.hasInstance ? "(" + path.instance + ")" : "") + "\\" +
           path.counter;
}

bool HasWildcard(const std::string& pattern) {
    return pattern.find_first_of("*?") != std::string::npos;
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

bool NameMatches(const std::string& pattern, const std::string& name) {
    // Glob with backtracking to the last '*': at most pattern length times
    // name length steps. '?' takes one UTF-8 code point of the name.
    std::size_t p = 0, n = 0, starP = std::string::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            const bool multiByte = static_cast<unsigned char>(name[n]) >= 0xC0;
            ++n;
            while (multiByte && n < name.size() && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80)
                ++n;
        } else if (p < pattern.size() && LowerAscii(pattern[p]) == LowerAscii(name[n])) {
            ++p;
            ++n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool PathSelects(const CounterPath& path, const std::string& object, const std::string& instance,
                 const std::string& counter) {
    if (!NameMatches(path.object, object) || !NameMatches(path.counter, counter)) return false;
    if (!path.hasInstance) return instance.empty();
    if (path.instance == "*") return true;
    return !instance.empty() && NameMatches(path.instance, instance);
}

}  // namespace qvperf
