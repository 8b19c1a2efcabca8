// qvperf: loads a registered perflib v1 library the way perflib does and prints
// the counters it returns, once or at an interval, as a table, CSV, JSON lines
// or OpenMetrics text, or serves the latter over HTTP.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "counter_path.h"
#include "exposition.h"
#include "metrics_server.h"
#include "scrape_source.h"
#include "perf_decoder.h"
#include "perf_library.h"
#include "platform/platform.h"
#include "sample.h"
#include "support/wide_string.h"
#include "title_names.h"
#include "windows_service.h"
#ifndef _WIN32
#include "platform/emulated/emulated_control.h"
#endif

namespace {

using namespace qvperf;

constexpr int kExitError = 2;

const char kUsage[] =
    "usage: qvperf [options] [counter path ...]\n"
    "  counter path       \\Object(Instance)\\Counter, '*' for all; default \\*(*)\\*\n"
    "  -si SECONDS        sample interval (default 1 when -sc > 1)\n"
    "  -sc N              number of samples (default 1; unlimited with -si alone)\n"
    "  -q                 list the counter paths the library describes, then stop\n"
    "  --format F         table (default), csv, jsonl or prometheus\n"
    "  --serve PORT       serve /metrics and /health on http://127.0.0.1:PORT/\n"
    "  --listen ADDR:PORT serve on that address (default 127.0.0.1:9464)\n"
    "  --ignore-disabled-counters  serve even when \"Disable Performance Counters\" is set\n"
    "  --install-service  install the Windows service VudoZidExporter (with --listen)\n"
    "  --remove-service   stop and remove it\n"
    "  --run-as-service   run under the service control manager (its command line)\n"
    "  --service NAME     service key of the library (default \"Quorvane Server ITA\")\n"
    "  --lang CODE        perflib language of the names (default: the system's, else 009)\n"
    "  --query TEXT       Collect's value name (default Global)\n"
    "  --registry FILE    load the emulated registry from a .reg file (Linux)\n";

std::atomic<bool> g_stop{false};
extern "C" void OnSignal(int) { g_stop = true; }

struct Options {
    std::vector<CounterPath> paths;
    double interval = -1;
    long count = -1;
    std::string format = "table";
    std::string listen;  // ADDR:PORT when serving
    bool ignoreDisabledCounters = false;
    std::string serviceCommand;  // --install-service, --remove-service or --run-as-service
    std::string service = "Quorvane Server ITA";
    std::string language;  // empty: the system's default language, else 009
    std::string query = "Global";
    std::string registry;
    bool list = false;
};

int Fail(const std::string& message) {
    std::fprintf(stderr, "qvperf: %s\n", message.c_str());
    return kExitError;
}

bool ParseOptions(const std::vector<std::string>& args, Options* o, std::string* error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= args.size()) {
                *error = a + " needs a value";
                return false;
            }
            *out = args[++i];
            return true;
        };
        std::string v;
        if (a == "-q") {
            o->list = true;
        } else if (a == "-si") {
            if (!value(&v)) return false;
            o->interval = std::atof(v.c_str());
            if (o->interval <= 0) return (*error = "-si needs a positive number"), false;
        } else if (a == "-sc") {
            if (!value(&v)) return false;
            o->count = std::atol(v.c_str());
            if (o->count <= 0) return (*error = "-sc needs a positive count"), false;
        } else if (a == "--format") {
            if (!value(&o->format)) return false;
            if (o->format != "table" && o->format != "csv" && o->format != "jsonl" &&
                o->format != "prometheus")
                return (*error = "unknown format " + o->format), false;
        } else if (a == "--serve") {
            if (!value(&v)) return false;
            const int port = std::atoi(v.c_str());
            if (port <= 0 || port > 65535) return (*error = "--serve needs a port 1..65535"), false;
            o->listen = "127.0.0.1:" + std::to_string(port);
        } else if (a == "--listen") {
            if (!value(&o->listen)) return false;
            std::string address;
            unsigned short port = 0;
            if (!SplitListenAddress(o->listen, &address, &port))
                return (*error = "--listen needs ADDRESS:PORT, e.g. 127.0.0.1:9464"), false;
        } else if (a == "--ignore-disabled-counters") {
            o->ignoreDisabledCounters = true;
        } else if (a == "--install-service" || a == "--remove-service" || a == "--run-as-service") {
            o->serviceCommand = a;
        } else if (a == "--service") {
            if (!value(&o->service)) return false;
        } else if (a == "--lang") {
            if (!value(&o->language)) return false;
        } else if (a == "--query") {
            if (!value(&o->query)) return false;
        } else if (a == "--registry") {
            if (!value(&o->registry)) return false;
        } else if (a == "-h" || a == "--help") {
            return (*error = ""), false;
        } else if (!a.empty() && a[0] == '-') {
            return (*error = "unknown option " + a), false;
        } else {
            CounterPath path;
            std::string why;
            if (!ParseCounterPath(a, &path, &why))
                return (*error = "bad counter path " + a + ": " + why), false;
            o->paths.push_back(path);
        }
    }
    if (o->paths.empty()) {
        CounterPath all;
        std::string unused;
        ParseCounterPath("\\*(*)\\*", &all, &unused);
        o->paths.push_back(all);
    }
    return true;
}

Sample BuildSample(const DecodeResult& decoded, const TitleNames& titles,
                   const std::vector<CounterPath>& paths, int sequence) {
    Sample sample;
    sample.sequence = sequence;
    sample.time = std::time(nullptr);
    for (const PerfObject& object : decoded.objects) {
        const std::string objectName = titles.Name(object.nameIndex);
        for (const Instance& instance : object.instances) {
            for (std::size_t i = 0; i < object.counters.size() && i < instance.values.size(); ++i) {
                const CounterDefinition& counter = object.counters[i];
                SampleRow row;
                row.object = objectName;
                row.instance = instance.name;
                row.counter = titles.Name(counter.nameIndex);
                bool selected = false;
                for (const CounterPath& path : paths)
                    selected = selected || PathSelects(path, row.object, row.instance, row.counter);
                if (!selected) continue;
                row.help = titles.Help(counter.helpIndex);
                row.numeric = instance.values[i].numeric;
                row.number = instance.values[i].number;
                row.text = instance.values[i].text;
                sample.rows.push_back(row);
            }
        }
    }
    return sample;
}

// A path is known when some object and counter of the data match it; its
// instance may come and go between samples.
bool PathKnown(const CounterPath& path, const DecodeResult& decoded, const TitleNames& titles) {
    for (const PerfObject& object : decoded.objects) {
        if (!NameMatches(path.object, titles.Name(object.nameIndex))) continue;
        if (path.hasInstance != object.hasInstances && path.instance != "*") continue;
        for (const CounterDefinition& counter : object.counters)
            if (NameMatches(path.counter, titles.Name(counter.nameIndex))) return true;
    }
    return false;
}

// One line per counter: "\Object(*)\Counter", or "\Object\Counter" for an
// object without instances; the objects' instance counts come first.
std::string FormatCounterList(const DecodeResult& decoded, const TitleNames& titles) {
    std::string out;
    for (const PerfObject& object : decoded.objects) {
        const std::string name = titles.Name(object.nameIndex);
        out += "# " + name + ": " +
               (object.hasInstances ? std::to_string(object.instances.size()) + " instances"
                                    : std::string("no instances")) +
               "\n";
        for (const CounterDefinition& counter : object.counters)
            out += "\\" + name + (object.hasInstances ? "(*)" : "") + "\\" +
                   titles.Name(counter.nameIndex) + "\n";
    }
    return out;
}

class Sampler {
public:
    Sampler(PerfLibrary& library, const TitleNames& titles, const Options& options)
        : library_(library), titles_(titles), options_(options) {}

    // False with a message when the library gives nothing usable.
    bool Take(int sequence, Sample* sample, DecodeResult* decoded, std::string* error) {
        std::vector<unsigned char> data;
        std::uint32_t count = 0;
        if (!library_.Collect(options_.query, &data, &count, error)) return false;
        *decoded = DecodePerfData(data.data(), data.size(), count);
        for (const std::string& problem : decoded->problems)
            std::fprintf(stderr, "qvperf: bad data from %s: %s\n", library_.LibraryPath().c_str(),
                         problem.c_str());
        *sample = BuildSample(*decoded, titles_, options_.paths, sequence);
        return true;
    }

private:
    PerfLibrary& library_;
    const TitleNames& titles_;
    const Options& options_;
};

std::string Format(const Options& options, const Sample& sample, const DecodeResult& decoded,
                   const TitleNames& titles) {
    if (options.format == "csv") return FormatCsv(sample, sample.sequence == 1);
    if (options.format == "jsonl") return FormatJsonLine(sample);
    if (options.format == "prometheus") {
        std::string text;
        const auto described = DescribeSample(decoded, titles);
        described->status.serverUp = ServerPublishing(options.service);
        AppendExposition(described->object, described->texts, described->status,
                         ExpositionFormat::kOpenMetrics, &text);
        return text;
    }
    return FormatTable(sample) + "\n";
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
    if (!server.Listen(address, port, &error)) return Fail(error);
    std::fprintf(stderr, "qvperf: serving http://%s:%u/metrics\n", address.c_str(),
                 static_cast<unsigned>(server.Port()));
    if (options.serviceCommand == "--run-as-service") {
        auto serve = [&server] {
            server.Run();
            return 0;
        };
        if (!RunAsExporterService(serve, [&server] { server.Stop(); }, &error)) return Fail(error);
        return 0;
    }
    server.StopOnSignals();
    server.Run();
    return 0;
}

int Run(const std::vector<std::string>& args) {
    Options options;
    std::string error;
    if (!ParseOptions(args, &options, &error)) {
        if (error.empty()) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        std::fprintf(stderr, "qvperf: %s\n%s", error.c_str(), kUsage);
        return kExitError;
    }
    if (options.serviceCommand == "--install-service") {
        const std::string listen = options.listen.empty() ? kDefaultListen : options.listen;
        if (!InstallExporterService(listen, &error)) return Fail(error);
        std::printf("qvperf: service %s installed, serving http://%s/metrics once started\n",
                    kServiceName, listen.c_str());
        return 0;
    }
    if (options.serviceCommand == "--remove-service") {
        if (!RemoveExporterService(&error)) return Fail(error);
        std::printf("qvperf: service %s removed\n", kServiceName);
        return 0;
    }
    if (!options.registry.empty()) {
#ifdef _WIN32
        return Fail("--registry works only with the emulated registry of the Linux build");
#else
        if (!vz::emu::LoadRegistryFile(options.registry))
            return Fail("cannot load the registry file " + options.registry);
#endif
    }
    TitleNames titles;
    bool loaded = false;
    if (options.language.empty()) {
        // The texts of the system's language, as the library installed them.
        char code[8];
        std::snprintf(code, sizeof code, "%03x", vz::plat::GetSystemDefaultLangID() & 0x3FFu);
        loaded = titles.Load(code);
        options.language = loaded ? code : "009";
    }
    if (!loaded && !titles.Load(options.language))
        std::fprintf(stderr, "qvperf: no perflib texts for language %s, showing index numbers\n",
                     options.language.c_str());

    if (!options.listen.empty() || options.serviceCommand == "--run-as-service")
        return RunExporter(options, std::move(titles));

    PerfLibrary library;
    if (!library.Open(options.service, &error)) return Fail(error);
    Sampler sampler(library, titles, options);
    Sample sample;
    DecodeResult decoded;
    if (!sampler.Take(1, &sample, &decoded, &error)) return Fail(error);
    if (decoded.objects.empty() && decoded.problems.empty())
        return Fail("library " + library.LibraryPath() + " returned no object for query \"" +
                    options.query + "\"");
    for (const CounterPath& path : options.paths)
        if (!PathKnown(path, decoded, titles))
            return Fail("unknown counter path \\" + path.object +
                        (path.hasInstance ? "(" + path.instance + ")" : "") + "\\" +
                        path.counter);

    if (options.list) {
        std::fputs(FormatCounterList(decoded, titles).c_str(), stdout);
        return 0;
    }

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    long count = options.count;
    if (count < 0) count = options.interval > 0 ? 0 : 1;  // 0: until stopped
    const double interval = options.interval > 0 ? options.interval : 1.0;
    for (int sequence = 1;; ++sequence) {
        if (sequence > 1 && !sampler.Take(sequence, &sample, &decoded, &error)) return Fail(error);
        std::fputs(Format(options, sample, decoded, titles).c_str(), stdout);
        std::fflush(stdout);
        if ((count != 0 && sequence >= count) || g_stop) break;
        const auto until = std::chrono::steady_clock::now() +
                           std::chrono::milliseconds(static_cast<long>(interval * 1000));
        while (!g_stop && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (g_stop) break;
    }
    return 0;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(vz::Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(argv[i]))));
    return Run(args);
}
#else
int main(int argc, char** argv) { return Run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
