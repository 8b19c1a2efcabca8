#include "exporter/gzip.h"

#include <stdexcept>

#include <zlib.h>

namespace qvperf {

std::string Gzip(const std::string& data) {
    z_stream stream{};
    // 15 window bits + 16: a gzip header and trailer instead of zlib's.
    if (deflateInit2(&stream, 1, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("zlib: deflateInit2 failed");
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    // The output grows by steps of a sixteenth of the input, not to deflate's
    // bound, which is larger than the input itself.
    const std::size_t step = data.size() / 16 + 4096;
    std::string out;
    int result = Z_OK;
    while (result == Z_OK) {
        const std::size_t done = out.size();
        out.resize(done + step);
        stream.next_out = reinterpret_cast<Bytef*>(&out[done]);
        stream.avail_out = static_cast<uInt>(step);
        result = deflate(&stream, Z_FINISH);
        out.resize(done + step - stream.avail_out);
    }
    deflateEnd(&stream);
    if (result != Z_STREAM_END) throw std::runtime_error("zlib: deflate failed");
    return out;
}

}  // namespace qvperf
