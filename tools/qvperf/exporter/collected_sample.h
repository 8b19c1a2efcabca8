// What one collection gave the exporter: the decoded data, the object of
// "Quorvane Server 11" in it, its counters' texts and how the collection went.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "exporter/exposition.h"
#include "reader/perf_decoder.h"
#include "reader/title_names.h"

namespace qvperf {

struct CollectedSample {
    ScrapeStatus status;
    DecodeResult decoded;
    const PerfObject* object = nullptr;  // into `decoded`; null when none came back
    std::vector<CounterText> texts;      // by counter place

    // 200 only when the object came from a running server.
    bool Healthy() const { return status.collected && status.serverUp; }
};

// The sample of a decoded Collect buffer: the first object with counters, and
// its counters' texts. `status.collected` tells whether there was one.
std::shared_ptr<CollectedSample> DescribeSample(DecodeResult decoded, const TitleNames& titles);

}  // namespace qvperf
