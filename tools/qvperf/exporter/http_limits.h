// What one HTTP client may take of the exporter.
#pragma once
#include <chrono>
#include <cstddef>

namespace qvperf {

struct HttpLimits {
    // At the cap, a new connection is still served: the oldest one that has
    // not sent a complete request (idle, dribbling, or kept alive between
    // requests) is closed for it, else the oldest whose answer is still being
    // written. Only when every one waits for its collection is the new one
    // closed at once.
    std::size_t maxConnections = 64;
    std::size_t maxHeadBytes = 16 * 1024;
    std::chrono::milliseconds readTimeout{5000};    // for the whole request head
    std::chrono::milliseconds writeTimeout{10000};  // for the whole response
    std::chrono::milliseconds idleTimeout{60000};   // kept alive between requests
};

}  // namespace qvperf
