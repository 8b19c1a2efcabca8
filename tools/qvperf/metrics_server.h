// A minimal HTTP endpoint on 127.0.0.1 that answers every GET with a fresh
// OpenMetrics exposition. POSIX sockets only.
#pragma once
#include <functional>
#include <string>

namespace qvperf {

// Serves until `keepRunning` turns false (checked between requests). Returns
// false with a message when the port cannot be bound or the platform has no
// support.
bool ServeMetrics(int port, const std::function<std::string()>& exposition,
                  const std::function<bool()>& keepRunning, std::string* error);

}  // namespace qvperf
