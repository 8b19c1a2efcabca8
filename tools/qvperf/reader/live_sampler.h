// Samples taken from the provider's blocks as they are now, for the viewer and
// the exporter alike. Before every Collect the library's Close and Open run
// (the library notices a stopped server only at Close; the rebuild from block 0
// costs microseconds), or the library is loaded again when it is not loaded,
// the Performance key names another library (or none), or its Open failed. The server counts as up only when its publisher claim is
// held both before and after Collect; otherwise every instance is dropped, so
// a dead server's last values are never shown, even while another reader
// keeps its blocks alive. A server that restarts shows at the next sample.
#pragma once
#include <string>
#include <vector>

#include "reader/perf_decoder.h"
#include "reader/perf_library.h"

namespace qvperf {

class LiveSampler {
public:
    LiveSampler(std::string service, std::string query)
        : service_(std::move(service)), query_(std::move(query)) {}

    // False with a message when the library cannot be loaded or opened, or
    // Collect fails.
    bool Take(DecodeResult* decoded, bool* serverUp, std::string* error);
    // Unloads the library; the next Take loads it again.
    void Unload() { library_.Close(); }
    // The library the registration names; empty until it was read.
    const std::string& LibraryPath() const { return library_.LibraryPath(); }

private:
    std::string service_;
    std::string query_;
    PerfLibrary library_;
    std::vector<unsigned char> buffer_;
};

}  // namespace qvperf
