// One collection for the exporter: honours "Disable Performance Counters",
// takes a live sample (reader/live_sampler.h: fresh blocks, a dead server's
// instances dropped) and picks out "Quorvane Server 11". Calls must come one
// at a time.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "exporter/collected_sample.h"
#include "reader/diagnostics.h"
#include "reader/live_sampler.h"
#include "reader/title_names.h"

namespace qvperf {

class ScrapeSource {
public:
    ScrapeSource(std::string service, std::string query, TitleNames titles,
                 bool ignoreDisabledCounters);

    std::shared_ptr<const CollectedSample> Collect();

private:
    bool CountersDisabled() const;
    void Report(MessageKind kind, const std::string& state);  // logs changes of state only

    std::string service_;
    TitleNames titles_;
    bool ignoreDisabled_;
    LiveSampler sampler_;
    std::string lastState_;
};

}  // namespace qvperf
