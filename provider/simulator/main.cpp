// qvsim: stands in for the database server. Publishes a few named instances of
// "Quorvane Server 11" and keeps their sixteen counters moving like a busy
// server's would, until it is stopped or its time is up.
//
//   qvsim [--instances N] [--interval-ms MS] [--seconds S] [--application NAME]
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "server_statistics.h"
#include "vudozid_provider.hpp"
#ifndef _WIN32
#include "platform/platform.h"  // the registry file the Linux tools share
#endif

namespace {

std::atomic<bool> g_stop{false};
extern "C" void OnSignal(int) { g_stop = true; }

struct Options {
    int instances = 3;
    int intervalMs = 500;
    double seconds = 0;  // 0: until stopped
    std::string application = qvsim::kApplication;
};

// One counter's walk: where it may go and how far it moves per step.
struct Walk {
    double low, high, step;
};

// In the order of the published object's counters (server_object.h).
const Walk kWalks[] = {
    {90, 99, 1.5},
    {0, 10, 1.5},
    {200, 9000, 600},
    {50, 4000, 400},
    {1, 24, 0.4},
    {0, 60, 3},
    {20, 6000, 500},
    {20, 8000, 600},
    {0, 40, 2},
    {0, 25, 1.5},
    {0, 30, 2},
    {10, 2500, 200},
    {0, 30, 3},
    {2, 250, 20},
    {0, 80, 8},
    {0, 120, 10},
};
static_assert(sizeof kWalks / sizeof kWalks[0] == qvsim::kCounterCount, "one walk per counter");

class SimulatedServer {
public:
    explicit SimulatedServer(unsigned seed) : random_(seed) {
        for (int i = 0; i < 16; ++i) {
            std::uniform_real_distribution<double> start(kWalks[i].low, kWalks[i].high);
            level_[i] = start(random_);
        }
    }
    std::vector<std::uint64_t> Step() {
        std::vector<std::uint64_t> values(16);
        for (int i = 0; i < 16; ++i) {
            std::uniform_real_distribution<double> move(-kWalks[i].step, kWalks[i].step);
            double v = level_[i] + move(random_);
            if (v < kWalks[i].low) v = kWalks[i].low + (kWalks[i].low - v);
            if (v > kWalks[i].high) v = kWalks[i].high - (v - kWalks[i].high);
            level_[i] = v;
            values[i] = static_cast<std::uint64_t>(v + 0.5);
        }
        // Calls in progress cannot exceed the connected clients.
        const std::uint64_t clients = values[5] + values[8] + values[9] + values[10];
        if (values[12] > clients) values[12] = clients;
        return values;
    }

private:
    std::mt19937 random_;
    double level_[16];
};

bool ParseOptions(const std::vector<std::string>& args, Options* options) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--instances" && hasValue) {
            options->instances = std::atoi(args[++i].c_str());
        } else if (a == "--interval-ms" && hasValue) {
            options->intervalMs = std::atoi(args[++i].c_str());
        } else if (a == "--seconds" && hasValue) {
            options->seconds = std::atof(args[++i].c_str());
        } else if (a == "--application" && hasValue) {
            options->application = args[++i];
        } else {
            std::fprintf(stderr,
                         "usage: qvsim [--instances N] [--interval-ms MS] [--seconds S] "
                         "[--application NAME]\n");
            return false;
        }
    }
    if (options->instances < 1 || options->instances > 10000 || options->intervalMs < 1) {
        std::fprintf(stderr, "qvsim: --instances must be 1..10000 and --interval-ms positive\n");
        return false;
    }
    return true;
}

int Publish(const Options& options) {
#ifndef _WIN32
    vz::plat::UseRegistryFile("");  // the registration's title indices, as qvreg wrote them
#endif
    vzp_object object = qvsim::ServerStatisticsObject();
    const bool registered = vudozid::RegisteredIndices(options.application, object);
    vudozid::Publisher publisher(options.application, object);
    std::vector<vzp_instance> instances;
    std::vector<SimulatedServer> servers;
    for (int i = 0; i < options.instances; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Quorvane%02d", i + 1);
        instances.push_back(publisher.AddInstance(name));
        servers.emplace_back(1000u + static_cast<unsigned>(i));
    }
    std::printf("qvsim: %d instance(s) of \"%s\" for \"%s\", %s\n", options.instances,
                object.name, options.application.c_str(),
                registered ? "title indices from the registration" : "not registered (indices 0)");
    std::fflush(stdout);

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    const auto start = std::chrono::steady_clock::now();
    while (!g_stop) {
        for (std::size_t i = 0; i < instances.size(); ++i)
            publisher.SetAll(instances[i], servers[i].Step());
        std::this_thread::sleep_for(std::chrono::milliseconds(options.intervalMs));
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        if (options.seconds > 0 && elapsed.count() >= options.seconds) break;
    }
    return 0;
}

int Run(const std::vector<std::string>& args) {
    Options options;
    if (!ParseOptions(args, &options)) return 2;
    try {
        return Publish(options);
    } catch (const vudozid::ProviderError& error) {
        std::fprintf(stderr, "qvsim: cannot publish \"%s\": %s\n", options.application.c_str(),
                     error.what());
        return error.status() == VZP_ERROR_ALREADY_PUBLISHED ? 3 : 1;
    }
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
    {
        const int size = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(size > 0 ? size : 1, '\0');
        WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, &arg[0], size, nullptr, nullptr);
        arg.resize(std::strlen(arg.c_str()));
        args.push_back(arg);
    }
    return Run(args);
}
#else
int main(int argc, char** argv) { return Run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
