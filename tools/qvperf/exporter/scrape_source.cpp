#include "exporter/scrape_source.h"

#include "platform/registry_key.h"
#include "support/registry_paths.h"
#include "support/wide_string.h"

namespace qvperf {

namespace plat = vz::plat;

ScrapeSource::ScrapeSource(std::string service, std::string query, TitleNames titles,
                           bool ignoreDisabledCounters)
    : service_(service),
      titles_(std::move(titles)),
      ignoreDisabled_(ignoreDisabledCounters),
      sampler_(std::move(service), std::move(query)) {}

// Perflib skips a library whose Performance key says "Disable Performance
// Counters" with a non-zero DWORD; so does the exporter.
bool ScrapeSource::CountersDisabled() const {
    const std::u16string path = vz::PerformanceKeyPath(vz::Utf8ToUtf16(service_).c_str()).ToU16();
    vz::CKeyHandle key;
    if (key.Open(plat::HKeyLocalMachine(), path.c_str(), plat::KEY_READ) != 0) return false;
    vz::DWORD type = 0, value = 0, size = sizeof value;
    return plat::RegQueryValueExW(key.Get(), u"Disable Performance Counters", nullptr, &type,
                                  reinterpret_cast<vz::BYTE*>(&value), &size) == 0 &&
           type == plat::REG_DWORD && size == sizeof value && value != 0;
}

std::shared_ptr<CollectedSample> DescribeSample(DecodeResult decoded, const TitleNames& titles) {
    auto sample = std::make_shared<CollectedSample>();
    sample->decoded = std::move(decoded);
    for (const PerfObject& object : sample->decoded.objects)
        if (sample->object == nullptr && !object.counters.empty()) sample->object = &object;
    sample->status.collected = sample->object != nullptr;
    if (sample->object != nullptr)
        for (const CounterDefinition& counter : sample->object->counters)
            sample->texts.push_back({titles.Name(counter.nameIndex), titles.Help(counter.helpIndex)});
    return sample;
}

void ScrapeSource::Report(MessageKind kind, const std::string& state) {
    if (state == lastState_) return;
    lastState_ = state;
    ReportMessage(kind, state);
}

std::shared_ptr<const CollectedSample> ScrapeSource::Collect() {
    const auto start = std::chrono::steady_clock::now();
    auto sample = std::make_shared<CollectedSample>();
    sample->status.start = start;
    if (ProcessMetrics process; ReadProcessMetrics(&process)) sample->status.process = process;
    const std::optional<ProcessMetrics> process = sample->status.process;
    if (!ignoreDisabled_ && CountersDisabled()) {
        sample->status.countersDisabled = true;
        sampler_.Unload();
        Report(MessageKind::kWarning,
               "\"Disable Performance Counters\" is set for service \"" + service_ +
               "\": serving no object (--ignore-disabled-counters overrides)");
        return sample;
    }
    std::string error;
    DecodeResult decoded;
    bool serverUp = false;
    if (!sampler_.Take(&decoded, &serverUp, &error)) {
        Report(MessageKind::kError, error);
        return sample;
    }
    sample = DescribeSample(std::move(decoded), titles_);
    sample->status.start = start;
    sample->status.serverUp = serverUp;
    sample->status.process = process;
    const bool collecting = sample->decoded.problems.empty() && sample->status.collected &&
                            sample->status.serverUp;
    std::string state = !sample->decoded.problems.empty()
                            ? "bad data from " + sampler_.LibraryPath() + ": " +
                                  sample->decoded.problems.front()
                        : !sample->status.collected ? "the library returned no object"
                        : collecting                ? "collecting from a running server"
                                                    : "no server is publishing";
    Report(collecting ? MessageKind::kInformation : MessageKind::kWarning, state);
    return sample;
}

}  // namespace qvperf
