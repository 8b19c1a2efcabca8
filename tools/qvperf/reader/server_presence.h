// Whether the server that publishes the statistics of a service is alive.
#pragma once
#include <string>

#include "reader/perf_decoder.h"

namespace qvperf {

// True while the provider of `service` holds its publisher claim, which ends
// with its process however it ends. Blocks are no proof: on Windows a dead
// server's blocks live on while any reader still maps them.
bool ServerPublishing(const std::string& service);

// Drops every instance, so that nothing of a server that is not alive is
// shown: the library may still be reading a dead server's blocks.
void DropInstances(DecodeResult* decoded);

}  // namespace qvperf
