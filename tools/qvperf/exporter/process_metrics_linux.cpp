// The process metrics from /proc/self, as the Prometheus client libraries
// read them.
#include "exporter/process_metrics.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace qvperf {

namespace {

double BootTimeSeconds() {
    std::ifstream stat("/proc/stat");
    for (std::string key; stat >> key;) {
        if (key == "btime") {
            double seconds = 0;
            stat >> seconds;
            return seconds;
        }
        stat.ignore(1 << 20, '\n');
    }
    return 0;
}

double OpenFds() {
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    double count = 0;
    while (const dirent* entry = ::readdir(dir))
        if (entry->d_name[0] != '.') ++count;
    ::closedir(dir);
    return count - 1;  // not the one reading the folder
}

}  // namespace

bool ReadProcessMetrics(ProcessMetrics* metrics) {
    std::ifstream file("/proc/self/stat");
    std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // The command name in parentheses may hold spaces: fields count from after it.
    const std::size_t nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos) return false;
    std::istringstream rest(stat.substr(nameEnd + 2));
    std::vector<std::string> fields{std::istream_iterator<std::string>(rest),
                                    std::istream_iterator<std::string>()};
    // Field 3 (state) is fields[0]: utime 14, stime 15, starttime 22, vsize 23, rss 24.
    if (fields.size() < 22) return false;
    const double ticks = static_cast<double>(::sysconf(_SC_CLK_TCK));
    const double pageSize = static_cast<double>(::sysconf(_SC_PAGESIZE));
    metrics->cpuSeconds = (std::stod(fields[11]) + std::stod(fields[12])) / ticks;
    metrics->startTimeSeconds = BootTimeSeconds() + std::stod(fields[19]) / ticks;
    metrics->virtualBytes = std::stod(fields[20]);
    metrics->residentBytes = std::stod(fields[21]) * pageSize;
    metrics->openFds = OpenFds();
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        metrics->maxFds = static_cast<double>(limit.rlim_cur);
    return true;
}

}  // namespace qvperf
