// The exporter's HTTP endpoint, through real loopback sockets: routes, methods
// and formats; clients that stay idle, dribble or never read must not delay
// another client's scrape; deadlines and the connection cap; collections one
// at a time. The collection itself is a stand-in here.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <valgrind/valgrind.h>

#include "exporter/listen_address.h"
#include "exporter/metrics_server.h"
#include "server_object.h"

namespace {

using namespace qvperf;
using Clock = std::chrono::steady_clock;

// The bound on a scrape beside stalled clients; instrumented runs (valgrind,
// sanitizers) are ten times slower at everything.
std::chrono::milliseconds ScrapeBound() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return std::chrono::milliseconds(10000);
#else
    return std::chrono::milliseconds(RUNNING_ON_VALGRIND ? 10000 : 1000);
#endif
}

int Connect(unsigned short port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return fd;
}

// Reads until the peer closes or `limit` passes; the bytes so far.
std::string ReadAll(int fd, std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    std::string data;
    const auto until = Clock::now() + limit;
    char chunk[65536];
    while (Clock::now() < until) {
        pollfd p{fd, POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (::poll(&p, 1, static_cast<int>(left.count()) + 1) <= 0) break;
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        data.append(chunk, static_cast<std::size_t>(n));
    }
    return data;
}

std::string Exchange(unsigned short port, const std::string& request) {
    const int fd = Connect(port);
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string reply = ReadAll(fd);
    ::close(fd);
    return reply;
}

// A stand-in collection: `instances` instances, healthy or not; counts calls
// and notes any overlap of two calls.
struct FakeSource {
    std::atomic<int> calls{0};
    std::atomic<bool> inside{false};
    std::atomic<bool> overlapped{false};
    std::atomic<bool> healthy{true};
    std::size_t instances = 2;
    std::chrono::milliseconds delay{0};

    std::shared_ptr<const CollectedSample> operator()() {
        if (inside.exchange(true)) overlapped = true;
        ++calls;
        std::this_thread::sleep_for(delay);
        if (!built_ || built_->object->instances.size() != instances) built_ = Build();
        built_->status.serverUp = healthy;
        inside = false;
        return built_;
    }

private:
    std::shared_ptr<CollectedSample> built_;

    std::shared_ptr<CollectedSample> Build() const {
        DecodeResult decoded;
        PerfObject object;
        object.counters.resize(16);
        for (std::size_t i = 0; i < 16; ++i)  // the table's counters, as registration numbers them
            object.counters[i] = {quorvane::TitleOffsetOf(i), 0, 0, 100, quorvane::kRawCount, 4, 0};
        for (std::size_t i = 0; i < instances; ++i) {
            Instance instance;
            instance.name = "Quorvane" + std::to_string(i);
            instance.values.assign(16, CounterValue{true, i, ""});
            object.instances.push_back(instance);
        }
        decoded.objects.push_back(object);
        return DescribeSample(decoded, TitleNames());
    }
};

class ServerFixture : public ::testing::Test {
protected:
    void Start(HttpLimits limits = {}) {
        server_ = std::make_unique<MetricsServer>([this] { return source_(); }, limits);
        std::string error;
        ASSERT_TRUE(server_->Listen("127.0.0.1", 0, &error)) << error;
        port_ = server_->Port();
        runner_ = std::thread([this] { server_->Run(); });
    }
    void TearDown() override {
        if (server_) server_->Stop();
        if (runner_.joinable()) runner_.join();
        server_.reset();
    }

    FakeSource source_;
    std::unique_ptr<MetricsServer> server_;
    std::thread runner_;
    unsigned short port_ = 0;
};

TEST_F(ServerFixture, RoutesMethodsAndFormats) {
    Start();
    struct Case {
        const char* request;
        const char* statusLine;
        const char* mustContain;
        bool bodyExpected;
    };
    const Case cases[] = {
        {"GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 200 OK",
         "Content-Type: text/plain; version=0.0.4; charset=utf-8", true},
        {"GET /metrics?x=1 HTTP/1.1\r\naccept: application/openmetrics-text;version=1.0.0\r\n\r\n",
         "HTTP/1.1 200 OK", "Content-Type: application/openmetrics-text; version=1.0.0", true},
        {"HEAD /metrics HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK", "Content-Length: ", false},
        {"GET /health HTTP/1.0\r\n\r\n", "HTTP/1.1 200 OK", "\r\n\r\nok\n", true},
        {"POST /metrics HTTP/1.1\r\nContent-Length: 0\r\n\r\n", "HTTP/1.1 405 Method Not Allowed",
         "Allow: GET, HEAD\r\n", true},
        {"DELETE /health HTTP/1.1\r\n\r\n", "HTTP/1.1 405 Method Not Allowed", "Allow: GET, HEAD", true},
        {"GET /metrics/extra HTTP/1.1\r\n\r\n", "HTTP/1.1 404 Not Found", "not found", true},
        {"GET /favicon.ico HTTP/1.1\r\n\r\n", "HTTP/1.1 404 Not Found", "not found", true},
        {"garbage\r\n\r\n", "HTTP/1.1 400 Bad Request", "malformed", true},
    };
    for (const Case& c : cases) {
        const std::string reply = Exchange(port_, c.request);
        EXPECT_EQ(reply.rfind(c.statusLine, 0), 0u) << c.request << reply.substr(0, 200);
        EXPECT_NE(reply.find(c.mustContain), std::string::npos) << c.request << reply.substr(0, 300);
        const std::size_t headEnd = reply.find("\r\n\r\n");
        ASSERT_NE(headEnd, std::string::npos) << c.request;
        const std::size_t length = std::stoul(reply.substr(reply.find("Content-Length: ") + 16));
        EXPECT_EQ(reply.size() - headEnd - 4, c.bodyExpected ? length : 0u) << c.request;
        if (c.bodyExpected) {
            EXPECT_GT(length, 0u) << c.request;
        }
    }
    const std::string open =
        Exchange(port_, "GET /metrics HTTP/1.1\r\nAccept: application/openmetrics-text\r\n\r\n");
    EXPECT_EQ(open.substr(open.size() - 6), "# EOF\n");
    EXPECT_NE(open.find("quorvane_open_databases{server=\"Quorvane1\"} 1\n"), std::string::npos);

    source_.healthy = false;
    const std::string down = Exchange(port_, "GET /health HTTP/1.1\r\n\r\n");
    EXPECT_EQ(down.rfind("HTTP/1.1 503 Service Unavailable", 0), 0u) << down;
    EXPECT_NE(down.find("no server is publishing"), std::string::npos);
    EXPECT_NE(Exchange(port_, "GET /metrics HTTP/1.1\r\n\r\n").find("\nquorvane_server_up 0\n"),
              std::string::npos);
    EXPECT_FALSE(source_.overlapped);
}

// 16 idle connections, one that dribbles a byte at a time, and one that asks
// for a large exposition and never reads it: a scrape beside them takes less
// than a second longer than the same scrape alone (on a busy machine the
// scrape alone can take a while itself).
TEST_F(ServerFixture, StalledClientsDoNotDelayAScrape) {
    source_.instances = 5000;  // some 5 MB, more than the socket buffers hold
    Start();
    const std::string ask = "GET /metrics HTTP/1.1\r\n\r\n";
    Clock::duration alone = Clock::duration::max();
    for (int i = 0; i < 2; ++i) {
        const auto start = Clock::now();
        ASSERT_EQ(Exchange(port_, ask).rfind("HTTP/1.1 200 OK", 0), 0u);
        alone = std::min(alone, Clock::now() - start);
    }
    std::vector<int> idle;
    for (int i = 0; i < 16; ++i) idle.push_back(Connect(port_));
    const int dribbler = Connect(port_);
    std::atomic<bool> done{false};
    std::thread dribble([&] {
        const char request[] = "GET /metrics HTTP/1.1\r\n";
        for (std::size_t i = 0; i < sizeof request - 1 && !done; ++i) {
            ::send(dribbler, request + i, 1, MSG_NOSIGNAL);
            for (int k = 0; k < 20 && !done; ++k) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    const int sleeper = Connect(port_);
    ::send(sleeper, ask.data(), ask.size(), MSG_NOSIGNAL);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // its answer is stuck by now

    const auto start = Clock::now();
    const std::string reply = Exchange(port_, ask);
    const auto took = Clock::now() - start;
    EXPECT_EQ(reply.rfind("HTTP/1.1 200 OK", 0), 0u);
    EXPECT_NE(reply.find("quorvane_exporter_instances 5000\n"), std::string::npos);
    EXPECT_LT(took - alone, ScrapeBound())
        << "alone " << std::chrono::duration_cast<std::chrono::milliseconds>(alone).count()
        << " ms, beside stalled clients "
        << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";

    done = true;
    dribble.join();
    for (int fd : idle) ::close(fd);
    ::close(dribbler);
    ::close(sleeper);
}

TEST_F(ServerFixture, DeadlinesCloseIdleAndNonReadingClients) {
    HttpLimits limits;
    limits.readTimeout = std::chrono::milliseconds(200);
    limits.writeTimeout = std::chrono::milliseconds(300);
    source_.instances = 20000;
    Start(limits);
    const int idle = Connect(port_);
    const auto start = Clock::now();
    EXPECT_EQ(ReadAll(idle, std::chrono::milliseconds(3000)), "");  // closed without an answer
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2000));
    ::close(idle);

    // A client that never reads: the server gives up on it after the write deadline.
    const int sleeper = Connect(port_);
    int small = 4096;
    ::setsockopt(sleeper, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    const std::string ask = "GET /metrics HTTP/1.1\r\n\r\n";
    ::send(sleeper, ask.data(), ask.size(), MSG_NOSIGNAL);
    std::this_thread::sleep_for(ScrapeBound() * 3 / 2);
    const std::string partial = ReadAll(sleeper, ScrapeBound() * 3);
    ASSERT_EQ(partial.rfind("HTTP/1.1 200 OK", 0), 0u);
    const std::size_t length = std::stoul(partial.substr(partial.find("Content-Length: ") + 16));
    EXPECT_LT(partial.size(), length);  // cut off, not the whole exposition
    ::close(sleeper);
}

TEST_F(ServerFixture, ConnectionsBeyondTheCapAreClosedAndTheRestServed) {
    HttpLimits limits;
    limits.maxConnections = 4;
    Start(limits);
    std::vector<int> held;
    for (int i = 0; i < 4; ++i) held.push_back(Connect(port_));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int extra = Connect(port_);
    const auto start = Clock::now();
    EXPECT_EQ(ReadAll(extra, std::chrono::milliseconds(3000)), "");
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
    ::close(extra);
    for (int fd : held) ::close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(Exchange(port_, "GET /health HTTP/1.1\r\n\r\n").rfind("HTTP/1.1 200", 0), 0u);
}

TEST_F(ServerFixture, ConcurrentScrapesShareCollectionsOneAtATime) {
    source_.delay = std::chrono::milliseconds(200);
    Start();
    std::vector<std::thread> clients;
    std::atomic<int> answered{0};
    for (int i = 0; i < 6; ++i)
        clients.emplace_back([&] {
            if (Exchange(port_, "GET /metrics HTTP/1.1\r\n\r\n").rfind("HTTP/1.1 200", 0) == 0)
                ++answered;
        });
    for (std::thread& t : clients) t.join();
    EXPECT_EQ(answered, 6);
    EXPECT_LT(source_.calls, 6);
    EXPECT_FALSE(source_.overlapped);
}

TEST(ListenAddress, Splits) {
    std::string address;
    unsigned short port = 0;
    EXPECT_TRUE(SplitListenAddress("127.0.0.1:9464", &address, &port));
    EXPECT_EQ(address, "127.0.0.1");
    EXPECT_EQ(port, 9464);
    EXPECT_TRUE(SplitListenAddress("[::1]:80", &address, &port));
    EXPECT_EQ(address, "::1");
    for (const char* bad : {"9464", ":9464", "127.0.0.1:", "127.0.0.1:65536", "127.0.0.1:x1",
                            "127.0.0.1:123456"})
        EXPECT_FALSE(SplitListenAddress(bad, &address, &port)) << bad;
}

}  // namespace
