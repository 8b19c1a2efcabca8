// The exporter's listen address as the command line gives it. Kept apart from
// the HTTP server so that parsing a command line needs no networking.
#pragma once
#include <string>

namespace qvperf {

constexpr char kDefaultListen[] = "127.0.0.1:9464";

// "ADDRESS:PORT" or "[IPv6]:PORT" (port 0: any free one); false when malformed.
[[nodiscard]] bool SplitListenAddress(const std::string& text, std::string* address, unsigned short* port);

}  // namespace qvperf
