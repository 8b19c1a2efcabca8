// The exporter's HTTP endpoint, through real loopback sockets: routes, methods
// and formats; clients that stay idle, dribble or never read are served
// beside, closed by deadlines or at the connection cap; collections one at a
// time. The collection itself is a stand-in here.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include <valgrind/valgrind.h>
#include <zlib.h>

#include "exporter/listen_address.h"
#include "exporter/metrics_server.h"
#include "server_object.h"

namespace {

using namespace qvperf;
using Clock = std::chrono::steady_clock;

// A time that covers a scrape of some MB; instrumented runs (valgrind,
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

// Reads one response from `fd` (its head, then Content-Length bytes unless it
// answers a HEAD), or what came within `limit`; `*rest` keeps what came after it.
std::string ReadResponse(int fd, bool head, std::string* rest,
                         Clock::duration limit = std::chrono::minutes(1)) {
    const auto until = Clock::now() + limit;
    std::string data;
    data.swap(*rest);
    char chunk[65536];
    for (;;) {
        const std::size_t headEnd = data.find("\r\n\r\n");
        if (headEnd != std::string::npos) {
            const std::size_t at = data.find("Content-Length: ");
            const std::size_t length =
                head || at == std::string::npos || at > headEnd ? 0 : std::stoul(data.substr(at + 16));
            if (data.size() >= headEnd + 4 + length) {
                *rest = data.substr(headEnd + 4 + length);
                data.resize(headEnd + 4 + length);
                return data;
            }
        }
        pollfd p{fd, POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return data;
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return data;
        data.append(chunk, static_cast<std::size_t>(n));
    }
}

void Send(int fd, const std::string& request) { ::send(fd, request.data(), request.size(), MSG_NOSIGNAL); }

const std::string kScrape = "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n";

std::string Exchange(unsigned short port, const std::string& request) {
    const int fd = Connect(port);
    Send(fd, request);
    std::string rest;
    std::string reply = ReadResponse(fd, request.rfind("HEAD ", 0) == 0, &rest);
    ::close(fd);
    return reply;
}

// True when the server closes `fd` within `ms` milliseconds.
bool ClosedByServer(int fd, int ms = 500) {
    pollfd p{fd, POLLIN, 0};
    char byte;
    return ::poll(&p, 1, ms) == 1 && ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
}

std::string Body(const std::string& reply) { return reply.substr(reply.find("\r\n\r\n") + 4); }

// One whole gzip member, nothing after it, of at most a MB here.
std::string Gunzip(const std::string& data) {
    z_stream stream{};
    EXPECT_EQ(inflateInit2(&stream, 15 + 16), Z_OK);  // gzip only
    std::string out(1 << 20, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(stream.avail_in, 0u);
    out.resize(stream.total_out);
    inflateEnd(&stream);
    return out;
}

// A stand-in collection: `instances` instances, healthy or not; counts calls
// and notes any overlap of two calls.
struct FakeSource {
    std::atomic<int> calls{0};
    std::atomic<bool> inside{false}, overlapped{false};
    std::size_t instances = 2;
    std::chrono::milliseconds delay{0};
    std::shared_ptr<CollectedSample> built;

    std::shared_ptr<const CollectedSample> operator()() {
        if (inside.exchange(true)) overlapped = true;
        ++calls;
        std::this_thread::sleep_for(delay);
        if (!built || built->object->instances.size() != instances) {
            DecodeResult decoded;
            PerfObject& object = decoded.objects.emplace_back();
            for (std::size_t i = 0; i < 16; ++i)  // the table's counters, as registration numbers them
                object.counters.push_back({quorvane::TitleOffsetOf(i), 0, 0, 100, quorvane::kRawCount, 4, 0});
            for (std::size_t i = 0; i < instances; ++i)
                object.instances.push_back(
                    {"Quorvane" + std::to_string(i), std::vector<CounterValue>(16, {true, i, ""})});
            built = DescribeSample(decoded, TitleNames());
            built->status.serverUp = true;
        }
        inside = false;
        return built;
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

// Each step sends a request, on a new connection or on the last one, and
// reads one whole answer: its status, a text it holds, gzip when the client
// takes it and never for /health, and whether the server closes the
// connection after it: when the client says close or sends a body, after
// HTTP/1.0 unless asked to keep it, and after a bad head. Requests sent at
// once on one connection (a step that sends nothing reads the next answer)
// are answered in order.
TEST_F(ServerFixture, RoutesMethodsFormatsKeepAliveAndCompression) {
    Start();
    const struct Step {
        bool fresh;
        const char* request;
        const char* status;
        const char* mustContain;
        bool gzip = false;
        bool closes = false;
    } steps[] = {
        {true, "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n", "200 OK",
         "Content-Type: text/plain; version=0.0.4; charset=utf-8"},
        {true, "GET /metrics?x=1 HTTP/1.1\r\nhost: x\r\naccept: application/openmetrics-text;version=1.0.0\r\n\r\n",
         "200 OK", "Content-Type: application/openmetrics-text; version=1.0.0"},
        {false, "HEAD /metrics HTTP/1.1\r\nHost: x\r\n\r\n", "200 OK", "Content-Length: "},
        {true, "GET /health HTTP/1.0\r\n\r\n", "200 OK", "\r\n\r\nok\n", false, true},
        {true, "GET http://127.0.0.1:9464/metrics HTTP/1.1\r\nHost: 127.0.0.1:9464\r\n\r\n", "200 OK",
         "version=0.0.4"},
        {false, "GET HTTP://EXAMPLE?x HTTP/1.1\r\nHost: x\r\n\r\n", "200 OK", "<a href"},
        {false, "GET http:///metrics HTTP/1.1\r\nHost: x\r\n\r\n", "400 Bad Request", "malformed", false, true},
        {true, "GET /metrics HTTP/1.1\r\n\r\n", "400 Bad Request", "needs a Host header", false, true},
        {true, "GET /metrics HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", "400 Bad Request", "more than one Host",
         false, true},
        {true, "GET /metrics HTTP/2.0\r\nHost: x\r\n\r\n", "400 Bad Request", "HTTP/1.0 and", false, true},
        {true, "GET /metrics HTTP/1.1\r\nHost: x\r\n folded\r\n\r\n", "400", "malformed", false, true},
        {true, "garbage\r\n\r\n", "400 Bad Request", "malformed", false, true},
        {true, "POST /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n", "405 Method Not Allowed",
         "Allow: GET, HEAD\r\n"},
        {false, "DELETE /health HTTP/1.1\r\nHost: x\r\n\r\n", "405 Method Not Allowed", "Allow: GET, HEAD"},
        {false, "GET /metrics/extra HTTP/1.1\r\nHost: x\r\n\r\n", "404 Not Found", "not found"},
        {false, "POST /health HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello", "405", "Allow: ", false,
         true},
        {true, "GET /metrics HTTP/1.1\r\nHost: x\r\nAccept-Encoding: deflate, gzip\r\n\r\n", "200 OK",
         "Vary: Accept-Encoding\r\n", true},
        {false, "GET /metrics HTTP/1.1\r\nHost: x\r\nAccept-Encoding: gzip;q=0, identity\r\n\r\n", "200 OK",
         "Vary: Accept-Encoding\r\n"},
        {false, "GET /health HTTP/1.1\r\nHost: x\r\nAccept-Encoding: *\r\n\r\n", "200 OK", "\r\n\r\nok\n"},
        {false, "HEAD /metrics HTTP/1.1\r\nHost: x\r\nAccept-Encoding: *;q=0.5\r\n\r\n", "200 OK",
         "Content-Length: ", true},
        {false, "GET /metrics HTTP/1.1\r\nHost: x\r\nAccept-Encoding: x-gzip\r\nConnection: Close\r\n\r\n",
         "200 OK", "Vary: Accept-Encoding\r\n", true, true},
        {true, "GET /health HTTP/1.1\r\nHost: x\r\n\r\nGET /nothing HTTP/1.1\r\nHost: x\r\n\r\n"
               "GET /health HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", "200 OK", "\r\n\r\nok\n"},
        {false, "", "404 Not Found", "not found"},
        {false, "", "200 OK", "\r\n\r\nok\n", false, true},
        {true, "GET /health HTTP/1.0\r\nConnection: keep-alive\r\n\r\n", "200 OK", "ok\n"},
        {false, "GET /health HTTP/1.0\r\nConnection: keep-alive\r\n\r\n", "200 OK", "ok\n"},
    };
    int fd = -1;
    std::string rest;
    for (const Step& step : steps) {
        if (step.fresh) {
            if (fd >= 0) ::close(fd);
            fd = Connect(port_);
            rest.clear();
        }
        Send(fd, step.request);
        const bool head = std::strncmp(step.request, "HEAD", 4) == 0;
        const std::string reply = ReadResponse(fd, head, &rest);
        EXPECT_EQ(reply.rfind(std::string("HTTP/1.1 ") + step.status, 0), 0u) << step.request << reply;
        EXPECT_NE(reply.find(step.mustContain), std::string::npos) << step.request << reply.substr(0, 300);
        const std::size_t length = std::stoul(reply.substr(reply.find("Content-Length: ") + 16));
        EXPECT_GT(length, 0u) << step.request;
        EXPECT_EQ(reply.size() - reply.find("\r\n\r\n") - 4, head ? 0u : length) << step.request;
        EXPECT_EQ(reply.find("Content-Encoding: gzip\r\n") != std::string::npos, step.gzip) << step.request;
        EXPECT_NE(reply.find(step.closes ? "Connection: close\r\n" : "Connection: keep-alive\r\n"),
                  std::string::npos)
            << step.request;
        EXPECT_TRUE(!step.closes || ClosedByServer(fd)) << step.request;
    }
    EXPECT_FALSE(ClosedByServer(fd));
    ::close(fd);
    EXPECT_FALSE(source_.overlapped);
}

TEST_F(ServerFixture, DeadlinesCloseIdleAndNonReadingClients) {
    HttpLimits limits;
    limits.readTimeout = std::chrono::milliseconds(200);
    limits.writeTimeout = std::chrono::milliseconds(300);
    source_.instances = 20000;
    Start(limits);
    const int idle = Connect(port_);
    EXPECT_TRUE(ClosedByServer(idle, 2000));  // without an answer
    ::close(idle);

    // A client that never reads: the server gives up on it after the write deadline.
    const int sleeper = Connect(port_);
    int small = 4096;
    ::setsockopt(sleeper, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    Send(sleeper, kScrape);
    std::this_thread::sleep_for(ScrapeBound() / 5);
    Send(sleeper, kScrape);  // unread by the server, so closing resets the connection
    std::this_thread::sleep_for(ScrapeBound() * 3 / 2);
    std::string rest;
    const std::string partial = ReadResponse(sleeper, false, &rest, ScrapeBound() * 3);
    EXPECT_EQ(partial.rfind("HTTP/1.1 200 OK", 0), 0u);
    EXPECT_TRUE(ClosedByServer(sleeper));  // cut off, before the whole exposition
    ::close(sleeper);
}

// At the cap (64) of idle, dribbling, kept-alive and non-reading
// connections, every scrape is served at once (none of them holds the server
// up), and the oldest connection without a complete request is closed for it.
TEST_F(ServerFixture, ScrapesAtTheCapCloseTheOldestIdleConnection) {
    source_.instances = 5000;  // more than the socket buffers of a non-reading client hold
    HttpLimits limits;
    // No connection leaves by a deadline here, however slow the build.
    limits.readTimeout = limits.writeTimeout = std::chrono::milliseconds(60000);
    Start(limits);
    std::vector<int> held;
    auto hold = [&](const std::string& sent) {
        held.push_back(Connect(port_));
        Send(held.back(), sent);
    };
    hold(kScrape);  // two non-reading: their answers are stuck
    hold(kScrape);
    hold(kScrape);  // kept alive after one answer
    std::string rest;
    ASSERT_EQ(ReadResponse(held.back(), false, &rest).rfind("HTTP/1.1 200", 0), 0u);
    hold(kScrape.substr(0, 10));  // two dribbling: half a request head
    hold(kScrape.substr(0, 10));
    while (held.size() < 64) hold("");  // idle
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::vector<int> scrapers;  // kept open, so that each scrape finds the cap reached
    for (int i = 0; i < 3; ++i) {
        scrapers.push_back(Connect(port_));
        Send(scrapers.back(), kScrape);
        rest.clear();
        const std::string reply = ReadResponse(scrapers.back(), false, &rest);
        EXPECT_EQ(reply.rfind("HTTP/1.1 200 OK", 0), 0u) << "scrape " << i << ": " << reply.substr(0, 100);
        EXPECT_NE(reply.find("quorvane_exporter_instances 5000\n"), std::string::npos);
    }
    // The kept-alive one and the two dribblers were the oldest without a
    // complete request; the non-reading ones and the later idle ones stay.
    for (std::size_t i = 2; i < 5; ++i) EXPECT_TRUE(ClosedByServer(held[i])) << i;
    for (std::size_t i : {0, 1, 5, 63}) EXPECT_FALSE(ClosedByServer(held[i])) << i;
    for (int fd : held) ::close(fd);
    for (int fd : scrapers) ::close(fd);
}

// Scrapes that arrive during a collection wait for the next one, and share
// it and its body: the gzip one decompresses to exactly the plain one.
TEST_F(ServerFixture, ConcurrentScrapesShareCollectionsOneAtATime) {
    source_.delay = ScrapeBound() * 3 / 10;
    Start();
    std::thread first([&] { Exchange(port_, "GET /health HTTP/1.0\r\n\r\n"); });
    std::this_thread::sleep_for(ScrapeBound() / 10);  // its collection runs
    std::string plain, gzip;
    std::thread second([&] { plain = Exchange(port_, "GET /metrics HTTP/1.0\r\n\r\n"); });
    std::thread third([&] {
        gzip = Exchange(port_, "GET /metrics HTTP/1.0\r\nAccept-Encoding: gzip\r\n\r\n");
    });
    for (std::thread* t : {&first, &second, &third}) t->join();
    ASSERT_NE(gzip.find("Content-Encoding: gzip"), std::string::npos);
    EXPECT_EQ(Gunzip(Body(gzip)), Body(plain));
    EXPECT_EQ(source_.calls, 2);
    EXPECT_FALSE(source_.overlapped);
}

TEST(ListenAddress, SplitsAndJoins) {
    const struct {
        const char* text;
        const char* address;
        unsigned short port;
    } accepted[] = {{"127.0.0.1:9464", "127.0.0.1", 9464}, {"[::1]:80", "::1", 80}, {":0", "", 0}};
    std::string address;
    unsigned short port = 1;
    for (const auto& c : accepted) {
        ASSERT_TRUE(SplitListenAddress(c.text, &address, &port)) << c.text;
        EXPECT_EQ(address, c.address);
        EXPECT_EQ(port, c.port);
        EXPECT_EQ(JoinListenAddress(address, port), c.text);
    }
    for (const char* bad : {"9464", "::1:80", "[::1]", "[]:80", "[::1:80", "a]:80", "127.0.0.1:",
                            "127.0.0.1:65536", "127.0.0.1:x1", "127.0.0.1:123456"})
        EXPECT_FALSE(SplitListenAddress(bad, &address, &port)) << bad;
}

}  // namespace
