#include "exporter/exporter.h"

#include <cstdio>

#include "exporter/collected_sample.h"
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
    if (!server.Listen(address, port, &error)) return Fail(kExitFailure, error);
    std::fprintf(stderr, "qvperf: serving http://%s/metrics%s\n",
                 JoinListenAddress(address, server.Port()).c_str(),
                 address.empty() ? " (every interface)" : "");
    if (settings.runAsService) {
        auto serve = [&server] {
            server.Run();
            return 0;
        };
        if (!RunAsExporterService(serve, [&server] { server.Stop(); }, &error))
            return Fail(kExitFailure, error);
        return 0;
    }
    server.StopOnSignals();
    server.Run();
    return 0;
}

int InstallService(const std::string& listen) {
    std::string error;
    const std::string address = listen.empty() ? kDefaultListen : listen;
    if (!InstallExporterService(address, &error)) return Fail(kExitFailure, error);
    std::printf("qvperf: service %s installed, serving http://%s/metrics once started\n",
                kServiceName, address.c_str());
    return 0;
}

int RemoveService() {
    std::string error;
    if (!RemoveExporterService(&error)) return Fail(kExitFailure, error);
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
