// What one HTTP client may take of the exporter.
#pragma once
#include <chrono>
#include <cstddef>

namespace qvperf {

struct HttpLimits {
    std::size_t maxConnections = 64;  // more are closed at once
    std::size_t maxHeadBytes = 16 * 1024;
    std::chrono::milliseconds readTimeout{5000};    // for the whole request head
    std::chrono::milliseconds writeTimeout{10000};  // for the whole response
};

}  // namespace qvperf
