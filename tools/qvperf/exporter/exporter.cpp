#include "exporter/exporter.h"

#include <cstdio>

#include "exporter/collected_sample.h"
#include "exporter/event_log.h"
#include "exporter/listen_address.h"
#include "exporter/metrics_server.h"
#include "exporter/scrape_source.h"
#include "exporter/windows_service.h"
#include "reader/diagnostics.h"

namespace qvperf {

int RunExporter(const ExporterSettings& settings, TitleNames titles) {
    std::string address, error;
    unsigned short port = 0;
    const std::string listen = settings.listen.empty() ? kDefaultListen : settings.listen;
    if (!SplitListenAddress(listen, &address, &port))
        return Fail(kExitMistake, "--listen: \"" + listen + "\" is not ADDRESS:PORT");
    ScrapeSource source(settings.service, settings.query, std::move(titles),
                        settings.ignoreDisabledCounters);
    MetricsServer server([&source] { return source.Collect(); });
    auto serve = [&] {
        if (!server.Listen(address, port, &error)) return Fail(kExitFailure, error);
        Note("serving http://" + JoinListenAddress(address, server.Port()) + "/metrics" +
             (address.empty() ? " (every interface)" : ""));
        server.Run();
        return 0;
    };
    if (settings.runAsService) {
        // Listening is the service's work: a taken address stops the service
        // with an error the control manager sees, instead of never starting.
        if (!RunAsExporterService(serve, [&server] { server.Stop(); }, &error))
            return Fail(kExitFailure, error);
        return 0;
    }
    server.StopOnSignals();
    return serve();
}

int InstallService(const std::string& listen) {
    std::string error;
    const std::string address = listen.empty() ? kDefaultListen : listen;
    if (!InstallExporterService(address, &error)) return Fail(kExitFailure, error);
    // The service runs without this, but its messages would go nowhere.
    if (!AddEventLogSource(&error)) Warn("the service's messages will not reach the event log: " + error);
    std::printf("qvperf: service %s installed, serving http://%s/metrics once started\n",
                kServiceName, address.c_str());
    return 0;
}

int RemoveService() {
    std::string error, sourceError;
    const bool removed = RemoveExporterService(&error);
    if (!RemoveEventLogSource(&sourceError)) Warn("the event log source stays: " + sourceError);
    if (!removed) return Fail(kExitFailure, error);
    std::printf("qvperf: service %s removed\n", kServiceName);
    return 0;
}

std::string ExpositionOfSample(const DecodeResult& decoded, const TitleNames& titles,
                               bool serverUp) {
    std::string text;
    const auto described = DescribeSample(decoded, titles);
    described->status.serverUp = serverUp;
    AppendExposition(described->object, described->texts, described->status,
                     ExpositionFormat::kOpenMetrics, &text);
    return text;
}

}  // namespace qvperf
