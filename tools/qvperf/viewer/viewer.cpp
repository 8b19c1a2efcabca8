#include "viewer/viewer.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "exporter/exporter.h"
#include "reader/diagnostics.h"
#include "reader/perf_decoder.h"
#include "reader/live_sampler.h"
#include "reader/title_names.h"
#include "viewer/counter_selection.h"
#include "viewer/local_machine.h"
#include "viewer/sample.h"
#include "viewer/text_file.h"

namespace qvperf {

namespace {

std::atomic<bool> g_stop{false};
extern "C" void OnSignal(int) { g_stop = true; }

// One sample of the selected counters, fresh from the provider's blocks each
// time (reader/live_sampler.h): a dead server's values are never shown, a
// restarted one shows at the next sample.
class Sampler {
public:
    Sampler(const Options& options, const TitleNames& titles, const std::vector<CounterPath>& paths)
        : live_(options.service, options.query), titles_(titles), paths_(paths) {}

    // False with a message when the library gives nothing usable.
    bool Take(int sequence, Sample* sample, DecodeResult* decoded, bool* serverUp,
              std::string* error) {
        *sample = Sample();  // the last sample's memory goes before the next is built
        if (!live_.Take(decoded, serverUp, error)) return false;
        for (const std::string& problem : decoded->problems)
            Warn("bad data from " + live_.LibraryPath() + ": " + problem);
        *sample = BuildSample(*decoded, titles_, paths_, sequence);
        return true;
    }
    const std::string& LibraryPath() const { return live_.LibraryPath(); }

private:
    LiveSampler live_;
    const TitleNames& titles_;
    const std::vector<CounterPath>& paths_;
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

}  // namespace

int CheckViewerCommandLine(const Options& options, std::vector<CounterPath>* paths) {
    std::string error;
    if (!CollectCounterPaths(options, paths, &error)) return Fail(kExitMistake, error);
    if (!options.computer.empty() && !IsLocalComputer(options.computer))
        return Fail(kExitMistake, "-s " + options.computer +
                                      ": qvperf reads only this computer (" + LocalComputerName() +
                                      "), loading the library in its own process");
    for (const CounterPath& path : *paths)
        if (!path.machine.empty() && !IsLocalComputer(path.machine))
            return Fail(kExitMistake, "\\\\" + path.machine + CounterPathText(path) +
                                          ": qvperf reads only this computer (" +
                                          LocalComputerName() + ")");
    if (!MayWrite(options, &error)) return Fail(kExitMistake, error);
    return 0;
}

int RunViewer(const Options& options, const std::vector<CounterPath>& paths,
              const std::string& notRegisteredHint) {
    std::string error;
    TitleNames titles;
    const std::string titleWarning = titles.LoadForLanguage(options.language);
    Sampler sampler(options, titles, paths);
    Sample sample;
    DecodeResult decoded;
    bool serverUp = false;
    if (!sampler.Take(1, &sample, &decoded, &serverUp, &error))
        return Fail(kExitFailure, error + (sampler.LibraryPath().empty() ? notRegisteredHint : ""));
    if (!titleWarning.empty()) Warn(titleWarning);  // once the service is known to be there
    if (decoded.objects.empty() && decoded.problems.empty())
        return Fail(kExitFailure, "library " + sampler.LibraryPath() +
                                      " returned no object for query \"" + options.query + "\"");
    // A log's columns are fixed by its first sample: a path must give one now.
    const bool log = options.listing == Listing::None &&
                     (options.format == OutputFormat::PdhCsv || options.format == OutputFormat::PdhTsv);
    for (const CounterPath& path : paths) {
        const std::string problem = CheckPath(path, decoded, titles, log);
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
            case OutputFormat::Prometheus: return ExpositionOfSample(decoded, titles, serverUp);
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
            if (!sampler.Take(sequence, &sample, &decoded, &serverUp, &error))
                return Fail(kExitFailure, error);
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

}  // namespace qvperf
