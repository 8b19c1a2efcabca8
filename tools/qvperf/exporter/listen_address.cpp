#include "exporter/listen_address.h"

#include "support/decimal.h"

namespace qvperf {

bool SplitListenAddress(const std::string& text, std::string* address, unsigned short* port) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= text.size()) return false;
    std::string host = text.substr(0, colon);
    if (host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    vz::ULONGLONG value = 0;
    std::string unused;
    if (!vz::ParseWholeNumber("port", text.substr(colon + 1), 0, 65535, &value, &unused) ||
        host.empty())
        return false;  // port 0: any free port
    *address = host;
    *port = static_cast<unsigned short>(value);
    return true;
}

}  // namespace qvperf
