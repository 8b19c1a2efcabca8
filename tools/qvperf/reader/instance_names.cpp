#include "reader/instance_names.h"

#include <unordered_map>
#include <unordered_set>

namespace qvperf {

std::vector<std::string> UniqueInstanceNames(const std::vector<Instance>& instances) {
    std::vector<std::string> names;
    names.reserve(instances.size());
    std::unordered_set<std::string> taken;
    taken.reserve(instances.size() * 2);
    // The next number to try for a repeated name: every lower one is taken for
    // good, so no suffix is tried twice.
    std::unordered_map<std::string, unsigned> nextNumber;
    for (const Instance& instance : instances) {
        std::string name = instance.name;
        if (!taken.insert(name).second) {
            unsigned& n = nextNumber.emplace(instance.name, 1).first->second;
            do name = instance.name + '#' + std::to_string(n++);
            while (!taken.insert(name).second);
        }
        names.push_back(std::move(name));
    }
    return names;
}

}  // namespace qvperf
