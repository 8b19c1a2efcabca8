// A small HTTP/1.1 server on standalone Asio: one request per connection,
// any number of connections at once up to a cap, a deadline for reading the
// request head and one for writing the response, so that a client that stalls,
// dribbles or never reads only ever holds its own connection. The handler
// answers asynchronously, from any thread.
#pragma once
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include "exporter/http_limits.h"

namespace qvperf {

struct HttpRequest {
    std::string method;
    std::string target;
    std::string accept;  // the Accept header, empty when absent
};

struct HttpResponse {
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::string extraHeaders;  // whole header lines, each ending in "\r\n"
    std::shared_ptr<const std::string> body;
};

// Parses a request head ("METHOD TARGET HTTP/x.y", header lines) for the
// method, the target and the Accept header; false when malformed.
bool ParseRequestHead(const std::string& head, HttpRequest* request);

using HttpResponder = std::function<void(HttpResponse)>;  // call once, from any thread
using HttpHandler = std::function<void(const HttpRequest&, HttpResponder)>;

class HttpServer {
public:
    HttpServer(asio::io_context& io, HttpHandler handler, HttpLimits limits = {});
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds ADDRESS:PORT (port 0: any free port) and starts accepting on the
    // io_context. False with a message when the address cannot be used.
    bool Listen(const std::string& address, unsigned short port, std::string* error);
    unsigned short Port() const;
    void Close();  // stops accepting; open connections end by their deadlines

    static const char* StatusText(int status);

    struct Shared;  // the handler, the limits and the connection count

private:
    void Accept();

    asio::ip::tcp::acceptor acceptor_;
    std::shared_ptr<Shared> shared_;
};

}  // namespace qvperf
