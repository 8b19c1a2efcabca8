// The names under which the tools show an object's instances. Perflib lets
// several instances share a name; its tools tell them apart by their order.
#pragma once
#include <string>
#include <vector>

#include "reader/perf_decoder.h"

namespace qvperf {

// Instance names made unique as perflib tools do: the second "a" is "a#1",
// the third "a#2"; a name taken by another instance is skipped over. Linear
// in the number of instances, however many share a name.
std::vector<std::string> UniqueInstanceNames(const std::vector<Instance>& instances);

}  // namespace qvperf
