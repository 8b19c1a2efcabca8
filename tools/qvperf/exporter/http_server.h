// A small HTTP/1.1 server on standalone Asio: persistent connections (several
// requests in turn, HTTP/1.0 only when it asks for keep-alive), any number of
// connections at once up to a cap, a deadline for reading each request head,
// one for writing each response and one for idling between requests, so that
// a client that stalls, dribbles or never reads only ever holds its own
// connection, and at the cap not even that. The handler answers
// asynchronously, from any thread.
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
    std::string target;          // origin form: an absolute-form target loses scheme and authority
    std::string accept;          // the Accept header, empty when absent
    std::string acceptEncoding;  // the Accept-Encoding header, empty when absent
    bool keepAlive = false;      // the client wants the connection kept for another request
};

struct HttpResponse {
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::string extraHeaders;  // whole header lines, each ending in "\r\n"
    std::shared_ptr<const std::string> body;
};

// Parses a request head ("METHOD TARGET HTTP/1.x", header lines). False with
// the reason (for a 400) when malformed, when an HTTP/1.1 request has no Host
// or more than one, or when the version is not 1.x.
bool ParseRequestHead(const std::string& head, HttpRequest* request, std::string* problem);

// Whether an Accept-Encoding value takes gzip ("gzip", "x-gzip" or "*",
// without q=0).
bool AcceptsGzip(const std::string& acceptEncoding);

using HttpResponder = std::function<void(HttpResponse)>;  // call once, from any thread
using HttpHandler = std::function<void(const HttpRequest&, HttpResponder)>;

class HttpServer {
public:
    HttpServer(asio::io_context& io, HttpHandler handler, HttpLimits limits = {});
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds ADDRESS:PORT (port 0: any free port; an empty address: every
    // interface, IPv6 and IPv4 where the system allows both) and starts
    // accepting on the io_context. False with a message when unusable.
    bool Listen(const std::string& address, unsigned short port, std::string* error);
    unsigned short Port() const;
    void Close();  // stops accepting; open connections end by their deadlines

    static const char* StatusText(int status);

    struct Shared;  // the handler, the limits and the open connections

private:
    void Accept();

    asio::ip::tcp::acceptor acceptor_;
    std::shared_ptr<Shared> shared_;
};

}  // namespace qvperf
