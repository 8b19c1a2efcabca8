#include "metrics_server.h"

#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace qvperf {

#ifdef _WIN32

bool ServeMetrics(int, const std::function<std::string()>&, const std::function<bool()>&,
                  std::string* error) {
    *error = "--serve is not supported on Windows";
    return false;
}

#else

namespace {

void SendAll(int fd, const std::string& text) {
    std::size_t sent = 0;
    while (sent < text.size()) {
        ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += static_cast<std::size_t>(n);
    }
}

// Reads the request head (up to the blank line, at most 16 KiB) and answers.
void Answer(int fd, const std::function<std::string()>& exposition) {
    std::string request;
    char chunk[2048];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0) return;
        ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return;
        request.append(chunk, static_cast<std::size_t>(n));
    }
    std::string status = "200 OK", type = "application/openmetrics-text; version=1.0.0; charset=utf-8";
    std::string body;
    if (request.compare(0, 4, "GET ") != 0) {
        status = "405 Method Not Allowed";
        type = "text/plain";
        body = "only GET\n";
    } else {
        body = exposition();
    }
    SendAll(fd, "HTTP/1.1 " + status + "\r\nContent-Type: " + type +
                    "\r\nContent-Length: " + std::to_string(body.size()) +
                    "\r\nConnection: close\r\n\r\n" + body);
}

}  // namespace

bool ServeMetrics(int port, const std::function<std::string()>& exposition,
                  const std::function<bool()>& keepRunning, std::string* error) {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listener < 0) {
        *error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    int yes = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 8) != 0) {
        *error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " +
                 std::strerror(errno);
        ::close(listener);
        return false;
    }
    while (keepRunning()) {
        pollfd p{listener, POLLIN, 0};
        if (::poll(&p, 1, 500) <= 0) continue;
        int client = ::accept(listener, nullptr, nullptr);
        if (client < 0) continue;
        Answer(client, exposition);
        ::close(client);
    }
    ::close(listener);
    return true;
}

#endif

}  // namespace qvperf
