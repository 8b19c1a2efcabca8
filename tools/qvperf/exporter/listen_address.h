// The exporter's listen address as the command line gives it and as messages
// print it. Kept apart from the HTTP server so that parsing a command line
// needs no networking.
#pragma once
#include <string>

namespace qvperf {

constexpr char kDefaultListen[] = "127.0.0.1:9464";

// "ADDRESS:PORT", "[IPv6]:PORT" or ":PORT" for every interface (an empty
// address); port 0: any free one. False when malformed, an IPv6 address
// without brackets included.
[[nodiscard]] bool SplitListenAddress(const std::string& text, std::string* address, unsigned short* port);

// The same forms back: "127.0.0.1:9464", "[::1]:9464", ":9464".
std::string JoinListenAddress(const std::string& address, unsigned short port);

}  // namespace qvperf
