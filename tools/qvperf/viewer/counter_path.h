// Counter paths as performance tools write them: \Object(Instance)\Counter, or
// \Object\Counter for an object without instances, optionally preceded by the
// machine as \\Computer. Each name may hold the wildcards '*' (any run of
// characters) and '?' (one character): "*" alone stands for every object,
// instance or counter, "Quorvane0*" for the instances whose name starts so.
// Names compare without regard to ASCII case.
#pragma once
#include <string>

namespace qvperf {

struct CounterPath {
    std::string machine;   // without the leading "\\"; empty when the path names none
    std::string object;
    std::string instance;  // empty when the path names none
    std::string counter;
    bool hasInstance = false;
};

// False, with a reason, for a text that is not a counter path.
[[nodiscard]] bool ParseCounterPath(const std::string& text, CounterPath* path, std::string* error);

// The path as text, without the machine: \Object(Instance)\Counter.
std::string CounterPathText(const CounterPath& path);

// Whether `pattern` holds a wildcard.
bool HasWildcard(const std::string& pattern);

// Whether two names are equal without regard to ASCII case.
bool SameName(const std::string& a, const std::string& b);

// `pattern` is a name, possibly with '*' and '?' wildcards.
bool NameMatches(const std::string& pattern, const std::string& name);

// Whether the path selects this object/instance/counter. An object without
// instances (instance empty) is selected by paths without instance and by "*".
bool PathSelects(const CounterPath& path, const std::string& object, const std::string& instance,
                 const std::string& counter);

}  // namespace qvperf
