// Counter paths as performance tools write them: \Object(Instance)\Counter, or
// \Object\Counter for an object without instances; "*" stands for every object,
// instance or counter. Names compare without regard to ASCII case.
#pragma once
#include <string>

namespace qvperf {

struct CounterPath {
    std::string object;    // "*" for all
    std::string instance;  // "*" for all; empty when the path names none
    std::string counter;   // "*" for all
    bool hasInstance = false;
};

// False, with a reason, for a text that is not a counter path.
bool ParseCounterPath(const std::string& text, CounterPath* path, std::string* error);

// `pattern` is a name or "*".
bool NameMatches(const std::string& pattern, const std::string& name);

// Whether the path selects this object/instance/counter. An object without
// instances (instance empty) is selected by paths without instance and by "*".
bool PathSelects(const CounterPath& path, const std::string& object, const std::string& instance,
                 const std::string& counter);

}  // namespace qvperf
