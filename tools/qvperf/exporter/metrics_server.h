// qvperf's Prometheus exporter: GET /metrics (Prometheus text 0.0.4, or
// OpenMetrics when asked for) and GET /health over the HTTP server, with the
// collections on one collector thread: the library is called one call at a
// time, and scrapes that arrive while a collection runs share the next one.
// (The networking stays out of this header: on Windows it brings windows.h.)
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "exporter/collected_sample.h"
#include "exporter/http_limits.h"

namespace qvperf {

class MetricsServer {
public:
    // Called on the collector thread, one call at a time.
    using CollectFn = std::function<std::shared_ptr<const CollectedSample>()>;

    explicit MetricsServer(CollectFn collect, HttpLimits limits = {});
    ~MetricsServer();
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    // ADDRESS and PORT (0: any free port); false with a message when unusable.
    bool Listen(const std::string& address, unsigned short port, std::string* error);
    unsigned short Port() const;
    void StopOnSignals();  // SIGINT and SIGTERM end Run
    void Run();            // serves until Stop
    void Stop();           // from any thread

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qvperf
