// One collection for the exporter: honours "Disable Performance Counters",
// closes and opens the library's entry points so that every collection starts
// from the provider's blocks as they are now (a server that stopped or
// restarted is seen at once; the rebuild costs microseconds), collects,
// decodes and picks out "Quorvane Server 11". Calls must come one at a time.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "exporter/collected_sample.h"
#include "reader/perf_library.h"
#include "reader/server_presence.h"
#include "reader/title_names.h"

namespace qvperf {

class ScrapeSource {
public:
    ScrapeSource(std::string service, std::string query, TitleNames titles,
                 bool ignoreDisabledCounters);

    std::shared_ptr<const CollectedSample> Collect();

private:
    bool CountersDisabled() const;
    bool StillRegistered() const;
    void Report(const std::string& state);  // logs changes of state only

    std::string service_;
    std::string query_;
    TitleNames titles_;
    bool ignoreDisabled_;
    PerfLibrary library_;
    std::vector<unsigned char> buffer_;
    std::string lastState_;
};

}  // namespace qvperf
