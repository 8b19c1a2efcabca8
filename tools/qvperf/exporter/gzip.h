// gzip (RFC 1952) of a response body, for clients whose Accept-Encoding takes it.
#pragma once
#include <string>

namespace qvperf {

// The gzip member of `data`. Level 1: the exposition repeats itself so much
// that the fastest level already shrinks it some tenfold, while higher
// levels cost several times more for a few percent.
std::string Gzip(const std::string& data);

}  // namespace qvperf
