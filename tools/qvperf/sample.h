// One sample as qvperf prints it: the selected counter values with their
// object, instance and counter names resolved, in buffer order.
#pragma once
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace qvperf {

struct SampleRow {
    std::string object;
    std::string instance;  // empty for an object without instances
    std::string counter;
    std::string help;
    bool numeric = false;
    std::uint64_t number = 0;
    std::string text;
};

struct Sample {
    int sequence = 1;
    std::time_t time = 0;
    std::vector<SampleRow> rows;
};

std::string FormatTable(const Sample& sample);
std::string FormatCsv(const Sample& sample, bool withHeader);
std::string FormatJsonLine(const Sample& sample);

}  // namespace qvperf
