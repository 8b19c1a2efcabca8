#include "counter_path.h"

namespace qvperf {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool ParseCounterPath(const std::string& text, CounterPath* path, std::string* error) {
    *path = CounterPath();
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

bool NameMatches(const std::string& pattern, const std::string& name) {
    if (pattern == "*") return true;
    if (pattern.size() != name.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (LowerAscii(pattern[i]) != LowerAscii(name[i])) return false;
    return true;
}

bool PathSelects(const CounterPath& path, const std::string& object, const std::string& instance,
                 const std::string& counter) {
    if (!NameMatches(path.object, object) || !NameMatches(path.counter, counter)) return false;
    if (!path.hasInstance) return instance.empty();
    if (path.instance == "*") return true;
    return !instance.empty() && NameMatches(path.instance, instance);
}

}  // namespace qvperf
