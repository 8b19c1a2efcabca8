// The Prometheus exporter as qvperf runs it: serving /metrics and /health
// until a signal or the service control manager stops it, and the commands
// that install and remove it as a Windows service.
#pragma once
#include <string>

#include "reader/perf_decoder.h"
#include "reader/title_names.h"

namespace qvperf {

struct ExporterSettings {
    std::string listen;   // ADDRESS:PORT; empty: kDefaultListen
    std::string service;  // the perflib service whose library is read
    std::string query;    // Collect's value name
    bool ignoreDisabledCounters = false;
    bool runAsService = false;  // under the Windows service control manager
};

// Serves until stopped; the exit status.
int RunExporter(const ExporterSettings& settings, TitleNames titles);

// --install-service and --remove-service; the exit status.
int InstallService(const std::string& listen);
int RemoveService();

// The one exposition of a decoded sample, as the exporter serves it: the
// viewer's --format prometheus writes the same text.
std::string ExpositionOfSample(const DecodeResult& decoded, const TitleNames& titles,
                               bool serverUp);

}  // namespace qvperf
