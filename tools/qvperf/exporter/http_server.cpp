#include "exporter/http_server.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <utility>

#include <asio/read_until.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

namespace qvperf {

using asio::ip::tcp;

struct HttpServer::Shared {
    HttpHandler handler;
    HttpLimits limits;
    // A connection may end on the thread that answered it.
    std::atomic<std::size_t> connections{0};
};

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(tcp::socket socket, std::shared_ptr<HttpServer::Shared> shared)
        : socket_(std::move(socket)), timer_(socket_.get_executor()), shared_(std::move(shared)) {
        ++shared_->connections;
    }
    ~Connection() { --shared_->connections; }

    void Start() {
        Arm(shared_->limits.readTimeout);
        auto self = shared_from_this();
        asio::async_read_until(socket_, asio::dynamic_buffer(head_, shared_->limits.maxHeadBytes),
                               "\r\n\r\n", [self](const asio::error_code& error, std::size_t) {
                                   self->OnHead(error);
                               });
    }

private:
    // Closes the connection when the deadline passes first.
    void Arm(std::chrono::milliseconds timeout) {
        timer_.expires_after(timeout);
        std::weak_ptr<Connection> weak = shared_from_this();
        timer_.async_wait([weak](const asio::error_code& error) {
            if (error) return;  // cancelled: the step finished in time
            if (auto self = weak.lock()) {
                asio::error_code ignored;
                self->socket_.close(ignored);
            }
        });
    }

    void OnHead(const asio::error_code& error) {
        if (error == asio::error::not_found) {  // head larger than allowed
            Respond(HttpResponse{431, "text/plain; charset=utf-8", "",
                                 std::make_shared<const std::string>("request head too large\n")});
            return;
        }
        if (error) return;  // closed, reset or timed out
        timer_.cancel();
        HttpRequest request;
        if (!ParseRequestHead(head_, &request)) {
            Respond(HttpResponse{400, "text/plain; charset=utf-8", "",
                                 std::make_shared<const std::string>("malformed request\n")});
            return;
        }
        headOnly_ = request.method == "HEAD";
        auto self = shared_from_this();
        shared_->handler(request, [self](HttpResponse response) {
            asio::post(self->socket_.get_executor(),
                       [self, response = std::move(response)]() mutable {
                           self->Respond(std::move(response));
                       });
        });
    }

    void Respond(HttpResponse response) {
        response_ = std::move(response);
        if (!response_.body) response_.body = std::make_shared<const std::string>();
        statusLine_ = "HTTP/1.1 " + std::to_string(response_.status) + " " +
                      HttpServer::StatusText(response_.status) +
                      "\r\nContent-Type: " + response_.contentType +
                      "\r\nContent-Length: " + std::to_string(response_.body->size()) +
                      "\r\n" + response_.extraHeaders + "Connection: close\r\n\r\n";
        std::vector<asio::const_buffer> buffers{asio::buffer(statusLine_)};
        if (!headOnly_) buffers.push_back(asio::buffer(*response_.body));
        Arm(shared_->limits.writeTimeout);
        auto self = shared_from_this();
        asio::async_write(socket_, buffers, [self](const asio::error_code& error, std::size_t) {
            self->timer_.cancel();
            asio::error_code ignored;
            if (!error) self->socket_.shutdown(tcp::socket::shutdown_both, ignored);
            self->socket_.close(ignored);
        });
    }

    tcp::socket socket_;
    asio::steady_timer timer_;
    std::shared_ptr<HttpServer::Shared> shared_;
    std::string head_;
    bool headOnly_ = false;
    std::string statusLine_;
    HttpResponse response_;
};

}  // namespace

bool ParseRequestHead(const std::string& head, HttpRequest* request) {
    const std::size_t lineEnd = head.find("\r\n");
    const std::string line = head.substr(0, lineEnd);
    const std::size_t a = line.find(' ');
    const std::size_t b = a == std::string::npos ? a : line.find(' ', a + 1);
    if (a == 0 || b == std::string::npos || line.compare(b + 1, 5, "HTTP/") != 0) return false;
    request->method = line.substr(0, a);
    request->target = line.substr(a + 1, b - a - 1);
    if (request->target.empty()) return false;
    std::size_t at = lineEnd;
    while (at != std::string::npos && at + 2 < head.size()) {
        const std::size_t next = head.find("\r\n", at + 2);
        const std::string header = head.substr(at + 2, next - at - 2);
        const std::size_t colon = header.find(':');
        if (colon != std::string::npos && Lower(header.substr(0, colon)) == "accept") {
            const std::size_t start = header.find_first_not_of(" \t", colon + 1);
            request->accept = start == std::string::npos ? "" : header.substr(start);
        }
        at = next;
    }
    return true;
}

HttpServer::HttpServer(asio::io_context& io, HttpHandler handler, HttpLimits limits)
    : acceptor_(io), shared_(std::make_shared<Shared>()) {
    shared_->handler = std::move(handler);
    shared_->limits = limits;
}

HttpServer::~HttpServer() { Close(); }

bool HttpServer::Listen(const std::string& address, unsigned short port, std::string* error) {
    asio::error_code ec;
    const asio::ip::address ip = asio::ip::make_address(address, ec);
    if (ec) {
        *error = "not an IP address: " + address;
        return false;
    }
    const tcp::endpoint endpoint(ip, port);
    acceptor_.open(endpoint.protocol(), ec);
    if (!ec) acceptor_.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec) acceptor_.bind(endpoint, ec);
    if (!ec) acceptor_.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        *error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + ec.message();
        asio::error_code ignored;
        acceptor_.close(ignored);
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
            if (shared->connections < shared->limits.maxConnections)
                std::make_shared<Connection>(std::move(socket), shared)->Start();
            else {
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
