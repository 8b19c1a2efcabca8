#include "exporter/metrics_server.h"

#include <csignal>
#include <vector>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/signal_set.hpp>
#include <asio/thread.hpp>

#include "exporter/gzip.h"
#include "exporter/http_server.h"

namespace qvperf {

namespace {

std::shared_ptr<const std::string> Text(std::string text) {
    return std::make_shared<const std::string>(std::move(text));
}

enum class Want { kHealth, kPrometheusText, kOpenMetrics };
using Done = std::function<void(const CollectedSample&, std::shared_ptr<const std::string>)>;

}  // namespace

struct MetricsServer::Impl {
    struct Waiter {
        Want want;
        bool gzip;
        Done done;
    };

    Impl(CollectFn collectFn, HttpLimits limits)
        : collect(std::move(collectFn)),
          http(io, [this](const HttpRequest& request, HttpResponder respond) {
              Handle(request, std::move(respond));
          }, limits),
          collector([this] { collecting.run(); }) {}

    ~Impl() {
        busy.reset();
        collecting.stop();
        collector.join();
    }

    void Handle(const HttpRequest& request, HttpResponder respond);
    void Enqueue(Want want, bool gzip, Done done);
    void CollectBatch();

    CollectFn collect;
    asio::io_context io;  // the HTTP side
    HttpServer http;
    // The collector thread runs `collecting`; `waiting` and `scheduled` are
    // touched on it only.
    asio::io_context collecting;
    asio::executor_work_guard<asio::io_context::executor_type> busy{collecting.get_executor()};
    std::vector<Waiter> waiting;
    bool scheduled = false;
    asio::thread collector;  // last: starts once the rest is there
};

MetricsServer::MetricsServer(CollectFn collect, HttpLimits limits)
    : impl_(std::make_unique<Impl>(std::move(collect), limits)) {}

MetricsServer::~MetricsServer() = default;

bool MetricsServer::Listen(const std::string& address, unsigned short port, std::string* error) {
    return impl_->http.Listen(address, port, error);
}

unsigned short MetricsServer::Port() const { return impl_->http.Port(); }

void MetricsServer::StopOnSignals() {
    auto signals = std::make_shared<asio::signal_set>(impl_->io, SIGINT, SIGTERM);
    signals->async_wait([this, signals](const asio::error_code& error, int) {
        if (!error) Stop();
    });
}

void MetricsServer::Run() { impl_->io.run(); }

void MetricsServer::Stop() {
    Impl* impl = impl_.get();
    asio::post(impl->io, [impl] {
        impl->http.Close();
        impl->io.stop();
    });
}

void MetricsServer::Impl::Handle(const HttpRequest& request, HttpResponder respond) {
    const std::string path = request.target.substr(0, request.target.find('?'));
    const bool known = path == "/metrics" || path == "/health" || path == "/";
    if (!known) {
        respond({404, "text/plain; charset=utf-8", "", Text("not found; try /metrics\n")});
        return;
    }
    if (request.method != "GET" && request.method != "HEAD") {
        respond({405, "text/plain; charset=utf-8", "Allow: GET, HEAD\r\n",
                 Text("only GET and HEAD\n")});
        return;
    }
    if (path == "/") {
        respond({200, "text/html; charset=utf-8", "",
                 Text("<html><body><a href=\"/metrics\">/metrics</a> "
                      "<a href=\"/health\">/health</a></body></html>\n")});
        return;
    }
    if (path == "/health") {
        Enqueue(Want::kHealth, false, [respond](const CollectedSample& sample,
                                         std::shared_ptr<const std::string>) {
            const char* why = sample.status.countersDisabled ? "counters disabled\n"
                              : !sample.status.collected     ? "no object collected\n"
                              : !sample.status.serverUp      ? "no server is publishing\n"
                                                             : "ok\n";
            respond({sample.Healthy() ? 200 : 503, "text/plain; charset=utf-8", "", Text(why)});
        });
        return;
    }
    const ExpositionFormat format = FormatForAccept(request.accept);
    const bool gzip = AcceptsGzip(request.acceptEncoding);
    Enqueue(format == ExpositionFormat::kOpenMetrics ? Want::kOpenMetrics : Want::kPrometheusText,
            gzip,
            [respond, format, gzip](const CollectedSample&, std::shared_ptr<const std::string> body) {
                respond({200, ContentType(format),
                         gzip ? "Content-Encoding: gzip\r\nVary: Accept-Encoding\r\n"
                              : "Vary: Accept-Encoding\r\n",
                         std::move(body)});
            });
}

// Requests that arrive before the scheduled collection starts share it; those
// that arrive while it runs wait for the next.
void MetricsServer::Impl::Enqueue(Want want, bool gzip, Done done) {
    asio::post(collecting, [this, want, gzip, done = std::move(done)]() mutable {
        waiting.push_back({want, gzip, std::move(done)});
        if (scheduled) return;
        scheduled = true;
        asio::post(collecting, [this] { CollectBatch(); });
    });
}

// Collects once, formats each asked-for format once (and compresses it once
// when asked for gzip) and answers every waiter.
void MetricsServer::Impl::CollectBatch() {
    scheduled = false;
    std::vector<Waiter> batch;
    batch.swap(waiting);
    const std::shared_ptr<const CollectedSample> sample = collect();
    std::shared_ptr<const std::string> bodies[3][2];  // by Want, plain and gzip
    for (Waiter& waiter : batch) {
        auto& plain = bodies[static_cast<int>(waiter.want)][0];
        if (!plain && waiter.want != Want::kHealth) {
            auto text = std::make_shared<std::string>();
            AppendExposition(sample->object, sample->texts, sample->status,
                             waiter.want == Want::kOpenMetrics ? ExpositionFormat::kOpenMetrics
                                                               : ExpositionFormat::kPrometheusText,
                             text.get());
            plain = std::move(text);
        }
        auto& compressed = bodies[static_cast<int>(waiter.want)][1];
        if (waiter.gzip && plain && !compressed)
            compressed = std::make_shared<const std::string>(Gzip(*plain));
        waiter.done(*sample, waiter.gzip ? compressed : plain);
    }
}

}  // namespace qvperf
