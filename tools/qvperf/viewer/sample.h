// One sample as qvperf prints it: the selected counter values with their
// object, instance and counter names resolved, in buffer order.
#pragma once
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <unordered_map>
#include <vector>

namespace qvperf {

// A text that many rows share (an object's, an instance's or a counter's
// name): one string for all of them, which keeps a sample of many instances
// small.
class SharedName {
public:
    SharedName() = default;
    SharedName(std::string text) : text_(std::make_shared<const std::string>(std::move(text))) {}
    SharedName(const char* text) : SharedName(std::string(text)) {}
    operator const std::string&() const { return str(); }
    const std::string& str() const {
        static const std::string none;
        return text_ != nullptr ? *text_ : none;
    }
    bool empty() const { return str().empty(); }

private:
    std::shared_ptr<const std::string> text_;
};

struct SampleRow {
    SharedName object;
    SharedName instance;  // empty for an object without instances
    SharedName counter;
    bool numeric = false;
    std::uint64_t number = 0;
    SharedName text;  // for text counters only
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
    // A column by the numbers of its object, instance and counter names: small
    // beside the names themselves when a log has many instances.
    struct ColumnKey {
        std::uint32_t object, instance, counter;
        bool operator==(const ColumnKey& other) const {
            return object == other.object && instance == other.instance && counter == other.counter;
        }
    };
    struct ColumnHash {
        std::size_t operator()(const ColumnKey& key) const {
            return (static_cast<std::size_t>(key.object) * 0x9E3779B1u + key.instance) * 0x85EBCA77u +
                   key.counter;
        }
    };
    bool FindColumn(const SampleRow& row, ColumnKey* key) const;

    std::size_t columnCount_ = 0;
    std::unordered_map<std::string, std::uint32_t> names_;  // every name of a column, numbered
    std::unordered_map<ColumnKey, std::size_t, ColumnHash> columns_;
};

}  // namespace qvperf
