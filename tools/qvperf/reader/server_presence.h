// Whether a server publishes the statistics of a service right now.
#pragma once
#include <string>

namespace qvperf {

// True while the provider of `service` publishes its first block.
bool ServerPublishing(const std::string& service);

}  // namespace qvperf
