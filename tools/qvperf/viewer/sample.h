// One sample as qvperf prints it: the selected counter values with their
// object, instance and counter names resolved, in buffer order.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <unordered_map>
#include <vector>

namespace qvperf {

struct SampleRow {
    std::string object;
    std::string instance;  // empty for an object without instances
    std::string counter;
    bool numeric = false;
    std::uint64_t number = 0;
    std::string text;
};

struct Sample {
    int sequence = 1;
    std::chrono::system_clock::time_point time;
    std::vector<SampleRow> rows;
};

std::string FormatTable(const Sample& sample);
std::string FormatCsv(const Sample& sample, bool withHeader);
std::string FormatJsonLine(const Sample& sample);

// typeperf's log layout (PDH-CSV 4.0 or PDH-TSV 4.0): a header row naming the
// time zone and one column per counter, \\Computer\Object(Instance)\Counter,
// then one row per sample with the local time as MM/DD/YYYY HH:MM:SS.mmm.
// Every field is quoted. The columns are fixed by the first sample; a value
// missing from a later sample is written as a blank, as typeperf does.
class PdhLog {
public:
    PdhLog(std::string computer, char separator)
        : computer_(std::move(computer)), separator_(separator) {}
    // The sample's row; for the first sample the header row before it.
    std::string Format(const Sample& sample);

private:
    std::string Header(const Sample& first);
    std::string Row(const Sample& sample) const;
    std::string Field(const std::string& text) const;
    std::string computer_;
    char separator_;
    bool started_ = false;
    std::size_t columnCount_ = 0;
    std::unordered_map<std::string, std::size_t> columns_;  // by object, instance and counter
};

}  // namespace qvperf
