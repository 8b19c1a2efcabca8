#include "exporter/http_server.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <list>
#include <utility>
#include <vector>

#include <asio/ip/v6_only.hpp>
#include <asio/read_until.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

#include "exporter/listen_address.h"

namespace qvperf {

using asio::ip::tcp;

namespace {
class Connection;
}

struct HttpServer::Shared {
    HttpHandler handler;
    HttpLimits limits;
    // A connection may end on the thread that answered it.
    std::atomic<std::size_t> connections{0};
    // Oldest first; touched on the io_context's thread only.
    std::list<std::weak_ptr<Connection>> open;

    // At the cap: closes the oldest connection that has not sent a complete
    // request, else the oldest whose answer is being written (a client that
    // does not read it); false when every one waits for its answer.
    bool CloseOneForANewcomer();
};

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Trim(const std::string& text) {
    const std::size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos) return "";
    return text.substr(start, text.find_last_not_of(" \t") + 1 - start);
}

// The comma-separated items of a header value, trimmed and in lower case.
std::vector<std::string> Items(const std::string& value) {
    std::vector<std::string> items;
    std::size_t at = 0;
    while (at <= value.size()) {
        std::size_t end = value.find(',', at);
        if (end == std::string::npos) end = value.size();
        const std::string item = Lower(Trim(value.substr(at, end - at)));
        if (!item.empty()) items.push_back(item);
        at = end + 1;
    }
    return items;
}

// "http://host:port/path?query" becomes "/path?query"; false when the target
// is absolute but names no authority.
bool ToOriginForm(std::string* target) {
    const std::string lower = Lower(target->substr(0, 8));
    const std::size_t schemeEnd = lower.rfind("http://", 0) == 0    ? 7
                                  : lower.rfind("https://", 0) == 0 ? 8
                                                                    : 0;
    if (schemeEnd == 0) return true;
    const std::size_t pathStart = target->find_first_of("/?", schemeEnd);
    if (pathStart == schemeEnd) return false;
    std::string path = pathStart == std::string::npos ? "" : target->substr(pathStart);
    if (path.empty() || path[0] == '?') path = "/" + path;
    *target = path;
    return true;
}

class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(tcp::socket socket, std::shared_ptr<HttpServer::Shared> shared)
        : socket_(std::move(socket)), timer_(socket_.get_executor()), shared_(std::move(shared)) {
        ++shared_->connections;
    }
    ~Connection() { --shared_->connections; }

    void Start() { ReadHead(shared_->limits.readTimeout); }

    enum class State { kAwaitingRequest, kAwaitingAnswer, kWriting };
    // kAwaitingRequest: between requests, or in one that has not fully arrived.
    State CurrentState() const { return state_; }

    void Close() {
        timer_.cancel();
        asio::error_code ignored;
        socket_.close(ignored);
    }

private:
    // Closes the connection when the deadline passes first. A deadline that
    // expires while a later one is being armed no longer counts.
    void Arm(std::chrono::milliseconds timeout) {
        const unsigned armed = ++deadline_;
        timer_.expires_after(timeout);
        std::weak_ptr<Connection> weak = shared_from_this();
        timer_.async_wait([weak, armed](const asio::error_code& error) {
            if (error) return;  // cancelled: the step finished in time
            auto self = weak.lock();
            if (self && self->deadline_ == armed) self->Close();
        });
    }

    // A kept-alive connection: up to the idle deadline for the next request
    // to start, then the usual one for its head.
    void AwaitNextRequest() {
        state_ = State::kAwaitingRequest;
        if (!head_.empty()) {  // sent already, behind the last one
            ReadHead(shared_->limits.readTimeout);
            return;
        }
        Arm(shared_->limits.idleTimeout);
        auto self = shared_from_this();
        socket_.async_wait(tcp::socket::wait_read, [self](const asio::error_code& error) {
            if (!error) self->ReadHead(self->shared_->limits.readTimeout);
        });
    }

    void ReadHead(std::chrono::milliseconds timeout) {
        state_ = State::kAwaitingRequest;
        Arm(timeout);
        auto self = shared_from_this();
        asio::async_read_until(socket_, asio::dynamic_buffer(head_, shared_->limits.maxHeadBytes),
                               "\r\n\r\n", [self](const asio::error_code& error, std::size_t size) {
                                   self->OnHead(error, size);
                               });
    }

    void OnHead(const asio::error_code& error, std::size_t size) {
        if (error == asio::error::not_found) {  // head larger than allowed
            keepAlive_ = false;
            Respond(HttpResponse{431, "text/plain; charset=utf-8", "",
                                 std::make_shared<const std::string>("request head too large\n")});
            return;
        }
        if (error) return;  // closed, reset or timed out
        state_ = State::kAwaitingAnswer;
        ++deadline_;
        timer_.cancel();
        HttpRequest request;
        std::string problem;
        const bool parsed = ParseRequestHead(head_.substr(0, size), &request, &problem);
        head_.erase(0, size);
        if (!parsed) {
            keepAlive_ = false;
            Respond(HttpResponse{400, "text/plain; charset=utf-8", "",
                                 std::make_shared<const std::string>(problem + "\n")});
            return;
        }
        headOnly_ = request.method == "HEAD";
        keepAlive_ = request.keepAlive;
        auto self = shared_from_this();
        shared_->handler(request, [self](HttpResponse response) {
            asio::post(self->socket_.get_executor(),
                       [self, response = std::move(response)]() mutable {
                           self->Respond(std::move(response));
                       });
        });
    }

    void Respond(HttpResponse response) {
        state_ = State::kWriting;
        response_ = std::move(response);
        if (!response_.body) response_.body = std::make_shared<const std::string>();
        // Said either way, so that an HTTP/1.0 client knows it got keep-alive.
        statusLine_ = "HTTP/1.1 " + std::to_string(response_.status) + " " +
                      HttpServer::StatusText(response_.status) +
                      "\r\nContent-Type: " + response_.contentType +
                      "\r\nContent-Length: " + std::to_string(response_.body->size()) +
                      "\r\n" + response_.extraHeaders +
                      (keepAlive_ ? "Connection: keep-alive\r\n" : "Connection: close\r\n") + "\r\n";
        std::vector<asio::const_buffer> buffers{asio::buffer(statusLine_)};
        if (!headOnly_) buffers.push_back(asio::buffer(*response_.body));
        Arm(shared_->limits.writeTimeout);
        auto self = shared_from_this();
        asio::async_write(socket_, buffers, [self](const asio::error_code& error, std::size_t) {
            ++self->deadline_;
            self->timer_.cancel();
            self->response_ = HttpResponse{};  // the body may be large
            if (!error && self->keepAlive_) {
                self->AwaitNextRequest();
                return;
            }
            asio::error_code ignored;
            if (!error) self->socket_.shutdown(tcp::socket::shutdown_both, ignored);
            self->socket_.close(ignored);
        });
    }

    tcp::socket socket_;
    asio::steady_timer timer_;
    std::shared_ptr<HttpServer::Shared> shared_;
    unsigned deadline_ = 0;  // which Arm the timer stands for
    State state_ = State::kAwaitingRequest;
    std::string head_;  // may hold the start of the next request
    bool headOnly_ = false;
    bool keepAlive_ = false;
    std::string statusLine_;
    HttpResponse response_;
};

}  // namespace

bool HttpServer::Shared::CloseOneForANewcomer() {
    for (const auto state : {Connection::State::kAwaitingRequest, Connection::State::kWriting}) {
        for (auto it = open.begin(); it != open.end(); ++it) {
            const auto connection = it->lock();
            if (connection && connection->CurrentState() == state) {
                connection->Close();
                open.erase(it);
                return true;
            }
        }
    }
    return false;
}

bool ParseRequestHead(const std::string& head, HttpRequest* request, std::string* problem) {
    *problem = "malformed request";
    const std::size_t lineEnd = head.find("\r\n");
    const std::string line = head.substr(0, lineEnd);
    const std::size_t a = line.find(' ');
    const std::size_t b = a == std::string::npos ? a : line.find(' ', a + 1);
    if (a == 0 || b == std::string::npos) return false;
    const std::string version = line.substr(b + 1);
    if (version.size() != 8 || version.compare(0, 7, "HTTP/1.") != 0 ||
        !std::isdigit(static_cast<unsigned char>(version[7]))) {
        *problem = "only HTTP/1.0 and HTTP/1.1 are served";
        return false;
    }
    const bool http11 = version[7] != '0';
    request->method = line.substr(0, a);
    request->target = line.substr(a + 1, b - a - 1);
    if (request->target.empty() || !ToOriginForm(&request->target)) return false;
    int hosts = 0;
    bool body = false;
    std::vector<std::string> connection;
    std::size_t at = lineEnd;
    while (at != std::string::npos && at + 2 < head.size()) {
        const std::size_t next = head.find("\r\n", at + 2);
        const std::string header = head.substr(at + 2, next - at - 2);
        at = next;
        if (header.empty()) break;  // the blank line that ends the head
        const std::size_t colon = header.find(':');
        if (colon == std::string::npos || colon == 0 || header[0] == ' ' || header[0] == '\t')
            return false;  // no name, or a folded line
        const std::string name = Lower(header.substr(0, colon));
        const std::string value = Trim(header.substr(colon + 1));
        if (name == "host") {
            ++hosts;
        } else if (name == "accept") {
            request->accept = value;
        } else if (name == "accept-encoding") {
            request->acceptEncoding += (request->acceptEncoding.empty() ? "" : ",") + value;
        } else if (name == "connection") {
            for (std::string& item : Items(value)) connection.push_back(std::move(item));
        } else if (name == "transfer-encoding" || (name == "content-length" && value != "0")) {
            body = true;  // never read: the connection cannot carry another request
        }
    }
    if (http11 && hosts != 1) {
        *problem = hosts == 0 ? "an HTTP/1.1 request needs a Host header"
                              : "more than one Host header";
        return false;
    }
    auto has = [&](const char* token) {
        return std::find(connection.begin(), connection.end(), token) != connection.end();
    };
    request->keepAlive = !body && !has("close") && (http11 || has("keep-alive"));
    return true;
}

bool AcceptsGzip(const std::string& acceptEncoding) {
    int gzip = -1, any = -1;  // -1: not named; 0: refused (q=0); 1: taken
    for (const std::string& item : Items(acceptEncoding)) {
        const std::size_t semicolon = item.find(';');
        const std::string coding = Trim(item.substr(0, semicolon));
        int taken = 1;
        if (semicolon != std::string::npos) {
            const std::string parameter = Trim(item.substr(semicolon + 1));
            if (parameter.rfind("q=", 0) == 0) taken = std::atof(parameter.c_str() + 2) > 0 ? 1 : 0;
        }
        if (coding == "gzip" || coding == "x-gzip") gzip = std::max(gzip, taken);
        if (coding == "*") any = taken;
    }
    return gzip >= 0 ? gzip == 1 : any == 1;
}

HttpServer::HttpServer(asio::io_context& io, HttpHandler handler, HttpLimits limits)
    : acceptor_(io), shared_(std::make_shared<Shared>()) {
    shared_->handler = std::move(handler);
    shared_->limits = limits;
}

HttpServer::~HttpServer() { Close(); }

bool HttpServer::Listen(const std::string& address, unsigned short port, std::string* error) {
    asio::error_code ec;
    asio::ip::address ip;
    if (!address.empty()) {
        ip = asio::ip::make_address(address, ec);
        if (ec) {
            *error = "not an IP address: " + address;
            return false;
        }
    }
    auto bind = [&](const tcp::endpoint& endpoint, bool dualStack) {
        ec.clear();
        acceptor_.open(endpoint.protocol(), ec);
        if (!ec && dualStack) acceptor_.set_option(asio::ip::v6_only(false), ec);
        if (!ec) acceptor_.set_option(tcp::acceptor::reuse_address(true), ec);
        if (!ec) acceptor_.bind(endpoint, ec);
        if (!ec) acceptor_.listen(asio::socket_base::max_listen_connections, ec);
        if (ec) {
            asio::error_code ignored;
            acceptor_.close(ignored);
        }
        return !ec;
    };
    // Every interface: IPv6 and IPv4 on one socket, or IPv4 alone on a
    // system without IPv6.
    const bool bound = !address.empty() ? bind(tcp::endpoint(ip, port), false)
                       : bind(tcp::endpoint(tcp::v6(), port), true) ||
                             bind(tcp::endpoint(tcp::v4(), port), false);
    if (!bound) {
        *error = "cannot listen on " + JoinListenAddress(address, port) + ": " + ec.message();
        return false;
    }
    Accept();
    return true;
}

unsigned short HttpServer::Port() const {
    asio::error_code ec;
    return acceptor_.local_endpoint(ec).port();
}

void HttpServer::Close() {
    asio::error_code ignored;
    acceptor_.close(ignored);
}

void HttpServer::Accept() {
    acceptor_.async_accept([this, shared = shared_](const asio::error_code& error, tcp::socket socket) {
        if (error == asio::error::operation_aborted || !acceptor_.is_open()) return;
        if (!error) {
            shared->open.remove_if([](const std::weak_ptr<Connection>& c) { return c.expired(); });
            if (shared->connections < shared->limits.maxConnections ||
                shared->CloseOneForANewcomer()) {
                auto connection = std::make_shared<Connection>(std::move(socket), shared);
                shared->open.push_back(connection);
                connection->Start();
            } else {  // every connection is being answered
                asio::error_code ignored;
                socket.close(ignored);
            }
        }
        Accept();
    });
}

const char* HttpServer::StatusText(int status) {
    switch (status) {
        case 200: return "OK";
        case 400: return "Bad Request";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 431: return "Request Header Fields Too Large";
        case 503: return "Service Unavailable";
        default: return "Status";
    }
}

}  // namespace qvperf
