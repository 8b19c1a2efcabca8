// qvperf: loads a registered perflib v1 library the way perflib does and either
// prints its counters (the viewer) or serves them to Prometheus (the exporter).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "exporter/event_log.h"
#include "exporter/exporter.h"
#include "platform/platform.h"
#include "reader/diagnostics.h"
#include "tool_arguments.h"
#include "viewer/options.h"
#include "viewer/text_file.h"
#include "viewer/viewer.h"
#include "vudozid_version.h"

namespace {

using namespace qvperf;

// The registry this run reads (the emulated registry's file on Linux), or a
// refusal of --registry on Windows.
bool SelectRegistry(const Options& options, std::string* where, std::string* error) {
#ifdef _WIN32
    if (!options.registry.empty()) {
        *error = "--registry works only with the emulated registry of the Linux build";
        return false;
    }
#endif
    *where = vz::plat::UseRegistryFile(options.registry);
    if (!options.registry.empty()) {
        std::FILE* file = OpenFile(options.registry, "r");
        if (file == nullptr) {
            *error = "--registry: cannot read " + options.registry + ": " + std::strerror(errno);
            return false;
        }
        std::fclose(file);
    }
    return true;
}

std::string NotRegisteredHint(const std::string& registry) {
#ifdef _WIN32
    (void)registry;
    return "; register the library with regsvr32 or qvreg";
#else
    return "; the registry read is " + (registry.empty() ? std::string("in memory only") : registry) +
           "; register with qvreg, or name the file the registration wrote with "
           "VUDOZID_REGISTRY or --registry";
#endif
}

int Run(const std::vector<std::string>& args) {
    Options options;
    std::string error;
    bool showUsage = false;
    if (!ParseOptions(args, &options, &error, &showUsage))
        return Fail(kExitMistake, error + (showUsage ? "\nusage: qvperf [options] [counter path ...]; "
                                                       "qvperf --help lists the options"
                                                     : ""));
    if (options.help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::puts("qvperf " VUDOZID_VERSION);
        return 0;
    }
    std::vector<CounterPath> paths;
    if (const int status = CheckViewerCommandLine(options, &paths)) return status;
    std::string registry;
    if (!SelectRegistry(options, &registry, &error)) return Fail(kExitMistake, error);
    const std::string damage = vz::plat::RegistryFileProblem();
    if (!damage.empty()) return Fail(kExitFailure, "the registry file is damaged: " + damage);

    if (options.serviceCommand == "--install-service") return InstallService(options.listen);
    if (options.serviceCommand == "--remove-service") return RemoveService();
    const bool runAsService = options.serviceCommand == "--run-as-service";
    if (runAsService) CopyMessagesToEventLog();  // a service has no console
    if (!options.listen.empty() || runAsService) {
        TitleNames titles;
        const std::string titleWarning = titles.LoadForLanguage(options.language);
        if (!titleWarning.empty()) Warn(titleWarning);
        return RunExporter({options.listen, options.service, options.query,
                            options.ignoreDisabledCounters, runAsService},
                           std::move(titles));
    }
    return RunViewer(options, paths, NotRegisteredHint(registry));
}

}  // namespace

VZ_TOOL_ENTRY_POINT(Run)
