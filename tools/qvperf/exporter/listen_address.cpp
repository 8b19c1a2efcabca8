#include "exporter/listen_address.h"

#include "support/decimal.h"

namespace qvperf {

bool SplitListenAddress(const std::string& text, std::string* address, unsigned short* port) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon + 1 >= text.size()) return false;
    std::string host = text.substr(0, colon);
    if (!host.empty() && host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') return false;
        host = host.substr(1, host.size() - 2);
    } else if (host.find_first_of(":[]") != std::string::npos) {
        return false;  // an IPv6 address needs its brackets
    }
    vz::ULONGLONG value = 0;
    std::string unused;
    if (!vz::ParseWholeNumber("port", text.substr(colon + 1), 0, 65535, &value, &unused))
        return false;  // port 0: any free port
    *address = host;
    *port = static_cast<unsigned short>(value);
    return true;
}

std::string JoinListenAddress(const std::string& address, unsigned short port) {
    const bool ipv6 = address.find(':') != std::string::npos;
    return (ipv6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

}  // namespace qvperf
