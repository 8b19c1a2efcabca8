// qvperf's Prometheus exporter: GET /metrics (Prometheus text 0.0.4, or
// OpenMetrics when asked for) and GET /health over the HTTP server, with the
// collections on one collector thread: the library is called one call at a
// time, and scrapes that arrive while a collection runs share the next one.
#pragma once
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <asio/io_context.hpp>

#include "http_server.h"
#include "scrape_source.h"

namespace qvperf {

constexpr unsigned short kDefaultExporterPort = 9464;

class MetricsServer {
public:
    // Called on the collector thread, one call at a time.
    using CollectFn = std::function<std::shared_ptr<const CollectedSample>()>;

    explicit MetricsServer(CollectFn collect, HttpLimits limits = {});
    ~MetricsServer();
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    bool Listen(const std::string& address, unsigned short port, std::string* error);
    unsigned short Port() const { return http_.Port(); }
    void StopOnSignals();  // SIGINT and SIGTERM end Run
    void Run();            // serves until Stop
    void Stop();           // from any thread

private:
    enum class Want { kHealth, kPrometheusText, kOpenMetrics };
    using Done = std::function<void(const CollectedSample&, std::shared_ptr<const std::string>)>;
    struct Waiter {
        Want want;
        Done done;
    };

    void Handle(const HttpRequest& request, HttpResponder respond);
    void Enqueue(Want want, Done done);
    void CollectLoop();

    CollectFn collect_;
    asio::io_context io_;
    HttpServer http_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Waiter> waiting_;
    bool stopping_ = false;
    std::thread collector_;
};

}  // namespace qvperf
