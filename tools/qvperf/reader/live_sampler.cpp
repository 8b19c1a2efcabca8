#include "reader/live_sampler.h"

#include "reader/server_presence.h"

namespace qvperf {

bool LiveSampler::Take(DecodeResult* decoded, bool* serverUp, std::string* error) {
    *decoded = DecodeResult();  // the last sample's memory goes before the next is decoded
    *serverUp = false;
    bool ready = !library_.LibraryPath().empty() && library_.Reopen(error);
    if (!ready) {
        library_.Close();
        ready = library_.Open(service_, error);
    }
    if (!ready) return false;
    const bool upBefore = ServerPublishing(service_);
    std::uint32_t count = 0;
    if (!library_.Collect(query_, &buffer_, &count, error)) return false;
    *serverUp = upBefore && ServerPublishing(service_);
    *decoded = DecodePerfData(buffer_.data(), buffer_.size(), count);
    if (!*serverUp) DropInstances(decoded);
    return true;
}

}  // namespace qvperf
