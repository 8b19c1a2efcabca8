#include "metrics_server.h"

#include <csignal>

#include <asio/post.hpp>
#include <asio/signal_set.hpp>

namespace qvperf {

namespace {

std::shared_ptr<const std::string> Text(std::string text) {
    return std::make_shared<const std::string>(std::move(text));
}

}  // namespace

MetricsServer::MetricsServer(CollectFn collect, HttpLimits limits)
    : collect_(std::move(collect)),
      http_(io_, [this](const HttpRequest& request, HttpResponder respond) {
          Handle(request, std::move(respond));
      }, limits),
      collector_([this] { CollectLoop(); }) {}

MetricsServer::~MetricsServer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    collector_.join();
}

bool MetricsServer::Listen(const std::string& address, unsigned short port, std::string* error) {
    return http_.Listen(address, port, error);
}

void MetricsServer::StopOnSignals() {
    auto signals = std::make_shared<asio::signal_set>(io_, SIGINT, SIGTERM);
    signals->async_wait([this, signals](const asio::error_code& error, int) {
        if (!error) Stop();
    });
}

void MetricsServer::Run() { io_.run(); }

void MetricsServer::Stop() {
    asio::post(io_, [this] {
        http_.Close();
        io_.stop();
    });
}

void MetricsServer::Handle(const HttpRequest& request, HttpResponder respond) {
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
        Enqueue(Want::kHealth, [respond](const CollectedSample& sample,
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
    Enqueue(format == ExpositionFormat::kOpenMetrics ? Want::kOpenMetrics : Want::kPrometheusText,
            [respond, format](const CollectedSample&, std::shared_ptr<const std::string> body) {
                respond({200, ContentType(format), "", std::move(body)});
            });
}

void MetricsServer::Enqueue(Want want, Done done) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        waiting_.push_back({want, std::move(done)});
    }
    wake_.notify_one();
}

// Takes every waiting request, collects once, formats each asked-for format
// once and answers them all.
void MetricsServer::CollectLoop() {
    for (;;) {
        std::vector<Waiter> batch;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
            if (stopping_) return;
            batch.swap(waiting_);
        }
        const std::shared_ptr<const CollectedSample> sample = collect_();
        std::shared_ptr<const std::string> bodies[3];
        for (Waiter& waiter : batch) {
            auto& body = bodies[static_cast<int>(waiter.want)];
            if (!body && waiter.want != Want::kHealth) {
                auto text = std::make_shared<std::string>();
                AppendExposition(sample->object, sample->texts, sample->status,
                                 waiter.want == Want::kOpenMetrics ? ExpositionFormat::kOpenMetrics
                                                                   : ExpositionFormat::kPrometheusText,
                                 text.get());
                body = std::move(text);
            }
            waiter.done(*sample, body);
        }
    }
}

}  // namespace qvperf
