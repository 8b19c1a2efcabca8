// What clients and providers hand the exporter: an HTTP request head from any
// client (request line, absolute-form target, Host, Connection and
// Accept-Encoding headers), and instance names from another process's shared
// memory. The head parser must not read outside the text; the exposition of
// any names must stay one series per line, every series unique.
#include <cstdint>
#include <set>
#include <sstream>
#include <string>

#include "exporter/exposition.h"
#include "exporter/http_server.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    qvperf::HttpRequest request;
    std::string problem;
    if (qvperf::ParseRequestHead(input, &request, &problem)) {
        // An absolute-form target leaves only its path (and query) behind.
        if (request.method.empty() || request.target.empty() ||
            request.target.compare(0, 7, "http://") == 0)
            __builtin_trap();
        qvperf::AcceptsGzip(request.acceptEncoding);
    } else if (problem.empty()) {
        __builtin_trap();  // a refusal always says why
    }

    // Instance names: the input cut at NUL bytes.
    qvperf::PerfObject object;
    object.counters.resize(16);
    std::size_t start = 0;
    while (start <= input.size() && object.instances.size() < 64) {
        std::size_t end = input.find('\0', start);
        if (end == std::string::npos) end = input.size();
        qvperf::Instance instance;
        instance.name = input.substr(start, end - start);
        instance.values.assign(16, qvperf::CounterValue{true, end - start, ""});
        object.instances.push_back(instance);
        start = end + 1;
    }
    std::string text;
    qvperf::AppendExposition(&object, {}, qvperf::ScrapeStatus{}, qvperf::ExpositionFormat::kOpenMetrics,
                             &text);
    if (text.empty() || text.back() != '\n') __builtin_trap();  // every line ends
    std::set<std::string> series;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line[0] == '#') continue;
        if (line.compare(0, 9, "quorvane_") != 0) __builtin_trap();
        if (!series.insert(line.substr(0, line.rfind(' '))).second) __builtin_trap();
    }
    return 0;
}
