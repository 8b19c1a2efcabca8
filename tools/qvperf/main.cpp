// qvperf: loads a registered perflib v1 library the way perflib does and prints
// the counters it returns, once or at an interval, as a table, CSV, JSON lines,
// OpenMetrics text or typeperf's PDH-CSV/TSV log, or serves OpenMetrics over HTTP.
#include <atomic>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "counter_path.h"
#include "counter_selection.h"
#include "exposition.h"
#include "local_machine.h"
#include "metrics_server.h"
#include "options.h"
#include "scrape_source.h"
#include "perf_decoder.h"
#include "perf_library.h"
#include "platform/platform.h"
#include "sample.h"
#include "support/wide_string.h"
#include "tool_arguments.h"
#include "text_file.h"
#include "title_names.h"
#include "windows_service.h"
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>

#include "platform/emulated/emulated_control.h"
#endif

namespace {

using namespace qvperf;

constexpr int kExitFailure = 1;  // reading the counters or writing the output failed
constexpr int kExitMistake = 2;  // the command line, a counter path or the -cf file is wrong

std::atomic<bool> g_stop{false};
extern "C" void OnSignal(int) { g_stop = true; }

int Fail(int code, const std::string& message) {
    std::fprintf(stderr, "qvperf: %s\n", message.c_str());
    return code;
}

void Warn(const std::string& message) { std::fprintf(stderr, "qvperf: %s\n", message.c_str()); }

class Sampler {
public:
    Sampler(PerfLibrary& library, const TitleNames& titles, const std::vector<CounterPath>& paths,
            const std::string& query)
        : library_(library), titles_(titles), paths_(paths), query_(query) {}

    // False with a message when the library gives nothing usable.
    bool Take(int sequence, Sample* sample, DecodeResult* decoded, std::string* error) {
        std::vector<unsigned char> data;
        std::uint32_t count = 0;
        if (!library_.Collect(query_, &data, &count, error)) return false;
        *decoded = DecodePerfData(data.data(), data.size(), count);
        for (const std::string& problem : decoded->problems)
            Warn("bad data from " + library_.LibraryPath() + ": " + problem);
        *sample = BuildSample(*decoded, titles_, paths_, sequence);
        return true;
    }

private:
    PerfLibrary& library_;
    const TitleNames& titles_;
    const std::vector<CounterPath>& paths_;
    const std::string& query_;
};

// Where the output goes: standard output or the -o file. Every write is
// checked, so a full disk or a closed pipe ends the run with a message.
class Output {
public:
    ~Output() {
        if (file_ != nullptr && file_ != stdout) std::fclose(file_);
    }
    bool Open(const std::string& path, std::string* error) {
        name_ = path.empty() ? "standard output" : path;
        file_ = path.empty() ? stdout : OpenFile(path, "w");
        if (file_ == nullptr) *error = "cannot create " + path + ": " + std::strerror(errno);
        return file_ != nullptr;
    }
    bool Write(const std::string& text, std::string* error) {
        errno = 0;
        if (std::fwrite(text.data(), 1, text.size(), file_) == text.size() &&
            std::fflush(file_) == 0)
            return true;
        *error = "writing to " + name_ + " failed: " + std::strerror(errno != 0 ? errno : EIO);
        return false;
    }
    bool Close(std::string* error) {
        if (file_ == nullptr || file_ == stdout) return true;
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        if (!closed) *error = "writing to " + name_ + " failed: " + std::strerror(errno);
        return closed;
    }

private:
    std::FILE* file_ = nullptr;
    std::string name_;
};

bool InputIsTerminal() {
#ifdef _WIN32
    return _isatty(0) != 0;
#else
    return isatty(0) != 0;
#endif
}

// typeperf asks before it overwrites a log; without a terminal to ask on, the
// answer is no unless -y was given.
bool MayWrite(const Options& options, std::string* error) {
    if (options.outputFile.empty() || options.overwrite) return true;
    std::FILE* existing = OpenFile(options.outputFile, "r");
    if (existing == nullptr) return true;
    std::fclose(existing);
    if (InputIsTerminal()) {
        std::fprintf(stderr, "qvperf: %s exists; overwrite it? [y/N] ", options.outputFile.c_str());
        char answer[16] = "";
        if (std::fgets(answer, sizeof answer, stdin) != nullptr && (answer[0] == 'y' || answer[0] == 'Y'))
            return true;
    }
    *error = options.outputFile + " exists; -y overwrites it";
    return false;
}

// The perflib texts of the system's language, else of --lang or 009.
void LoadTitles(Options& options, TitleNames* titles) {
    if (!options.language.empty()) {
        if (!titles->Load(options.language))
            Warn("no perflib texts for language " + options.language +
                 " (--lang); showing index numbers");
        return;
    }
    char code[8];
    std::snprintf(code, sizeof code, "%03x", vz::plat::GetSystemDefaultLangID() & 0x3FFu);
    if (titles->Load(code)) return;
    if (std::strcmp(code, "009") != 0 && titles->Load("009")) return;
    Warn(std::string("no perflib texts for the system's language ") + code +
         (std::strcmp(code, "009") != 0 ? " nor for 009" : "") + "; showing index numbers");
}

// The emulated registry this run reads, or a refusal of --registry on Windows.
bool SelectRegistry(const Options& options, std::string* where, std::string* error) {
#ifdef _WIN32
    (void)where;
    if (!options.registry.empty()) {
        *error = "--registry works only with the emulated registry of the Linux build";
        return false;
    }
    return true;
#else
    *where = vz::emu::UseRegistryFile(options.registry);
    if (!options.registry.empty()) {
        std::FILE* file = OpenFile(options.registry, "r");
        if (file == nullptr) {
            *error = "--registry: cannot read " + options.registry + ": " + std::strerror(errno);
            return false;
        }
        std::fclose(file);
    }
    return true;
#endif
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

// One sample in the exporter's OpenMetrics text, for --format prometheus.
std::string Exposition(const DecodeResult& decoded, const TitleNames& titles,
                       const std::string& service) {
    std::string text;
    const auto described = DescribeSample(decoded, titles);
    described->status.serverUp = ServerPublishing(service);
    AppendExposition(described->object, described->texts, described->status,
                     ExpositionFormat::kOpenMetrics, &text);
    return text;
}

const char kDefaultListen[] = "127.0.0.1:9464";

// The exporter: serves until a signal, or the service control manager, stops it.
int RunExporter(const Options& options, TitleNames titles) {
    std::string address, error;
    unsigned short port = 0;
    SplitListenAddress(options.listen.empty() ? kDefaultListen : options.listen, &address, &port);
    ScrapeSource source(options.service, options.query, std::move(titles),
                        options.ignoreDisabledCounters);
    MetricsServer server([&source] { return source.Collect(); });
    if (!server.Listen(address, port, &error)) return Fail(kExitFailure, error);
    std::fprintf(stderr, "qvperf: serving http://%s:%u/metrics\n", address.c_str(),
                 static_cast<unsigned>(server.Port()));
    if (options.serviceCommand == "--run-as-service") {
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
    std::vector<CounterPath> paths;
    if (!CollectCounterPaths(options, &paths, &error)) return Fail(kExitMistake, error);
    if (!options.computer.empty() && !IsLocalComputer(options.computer))
        return Fail(kExitMistake, "-s " + options.computer +
                                      ": qvperf reads only this computer (" + LocalComputerName() +
                                      "), loading the library in its own process");
    for (const CounterPath& path : paths)
        if (!path.machine.empty() && !IsLocalComputer(path.machine))
            return Fail(kExitMistake, "\\\\" + path.machine + CounterPathText(path) +
                                          ": qvperf reads only this computer (" +
                                          LocalComputerName() + ")");
    if (!MayWrite(options, &error)) return Fail(kExitMistake, error);
    std::string registry;
    if (!SelectRegistry(options, &registry, &error)) return Fail(kExitMistake, error);

    if (options.serviceCommand == "--install-service") {
        const std::string listen = options.listen.empty() ? kDefaultListen : options.listen;
        if (!InstallExporterService(listen, &error)) return Fail(kExitFailure, error);
        std::printf("qvperf: service %s installed, serving http://%s/metrics once started\n",
                    kServiceName, listen.c_str());
        return 0;
    }
    if (options.serviceCommand == "--remove-service") {
        if (!RemoveExporterService(&error)) return Fail(kExitFailure, error);
        std::printf("qvperf: service %s removed\n", kServiceName);
        return 0;
    }

    TitleNames titles;
    if (!options.listen.empty() || options.serviceCommand == "--run-as-service") {
        LoadTitles(options, &titles);
        return RunExporter(options, std::move(titles));
    }

    PerfLibrary library;
    if (!library.Open(options.service, &error))
        return Fail(kExitFailure, error + NotRegisteredHint(registry));
    LoadTitles(options, &titles);
    Sampler sampler(library, titles, paths, options.query);
    Sample sample;
    DecodeResult decoded;
    if (!sampler.Take(1, &sample, &decoded, &error)) return Fail(kExitFailure, error);
    if (decoded.objects.empty() && decoded.problems.empty())
        return Fail(kExitFailure, "library " + library.LibraryPath() +
                                      " returned no object for query \"" + options.query + "\"");
    for (const CounterPath& path : paths) {
        const std::string problem = CheckPath(path, decoded, titles);
        if (!problem.empty()) return Fail(kExitMistake, problem);
    }
    std::vector<std::string> idle = ObjectsWithoutInstances(decoded, titles, paths);
    for (const std::string& name : idle)
        Warn("\"" + name + "\" has no instances: no server is publishing it" +
#ifndef _WIN32
             std::string(" (a server started with another VUDOZID_SHM_NAMESPACE is not seen)") +
#endif
             "");

    Output output;
    if (options.listing != Listing::None) {
        if (!output.Open(options.outputFile, &error) ||
            !output.Write(FormatCounterList(decoded, titles, paths,
                                            options.listing == Listing::Instances),
                          &error) ||
            !output.Close(&error))
            return Fail(kExitFailure, error);
        return 0;
    }

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    if (!output.Open(options.outputFile, &error)) return Fail(kExitFailure, error);
    PdhLog pdh(LocalComputerName(), options.format == OutputFormat::PdhTsv ? '\t' : ',');
    auto format = [&](const Sample& s) {
        switch (options.format) {
            case OutputFormat::Csv: return FormatCsv(s, s.sequence == 1);
            case OutputFormat::JsonLines: return FormatJsonLine(s);
            case OutputFormat::Prometheus: return Exposition(decoded, titles, options.service);
            case OutputFormat::PdhCsv:
            case OutputFormat::PdhTsv: return pdh.Format(s);
            case OutputFormat::Table: break;
        }
        return FormatTable(s) + "\n";
    };
    long count = options.count;
    if (count < 0) count = options.interval > 0 ? 0 : 1;  // 0: until stopped
    const auto interval = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(options.interval > 0 ? options.interval : 1.0));
    const auto start = std::chrono::steady_clock::now();
    for (int sequence = 1;; ++sequence) {
        if (sequence > 1) {
            if (!sampler.Take(sequence, &sample, &decoded, &error)) return Fail(kExitFailure, error);
            const std::vector<std::string> now = ObjectsWithoutInstances(decoded, titles, paths);
            if (now != idle)
                Warn(now.empty() ? "instances are published again"
                                 : "\"" + now.front() + "\" has no instances now");
            idle = now;
        }
        if (!output.Write(format(sample), &error)) return Fail(kExitFailure, error);
        if ((count != 0 && sequence >= count) || g_stop) break;
        const auto next = start + interval * sequence;  // a steady cadence, not drifting
        while (!g_stop && std::chrono::steady_clock::now() < next)
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                std::chrono::milliseconds(50), next - std::chrono::steady_clock::now()));
        if (g_stop) break;
    }
    return output.Close(&error) ? 0 : Fail(kExitFailure, error);
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return Run(vz_tools::Arguments(argc, argv)); }
#else
int main(int argc, char** argv) { return Run(vz_tools::Arguments(argc, argv)); }
#endif
