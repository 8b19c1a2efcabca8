#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <map>
#include <utility>

#include "viewer/sample.h"
#include "viewer/terminal_text.h"

namespace qvperf {

namespace {

struct TimeParts {
    std::tm fields{};
    int millis = 0;
};

TimeParts SplitTime(std::chrono::system_clock::time_point time, bool local) {
    const auto sinceEpoch =
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(sinceEpoch / 1000);
    TimeParts parts;
    parts.millis = static_cast<int>(sinceEpoch % 1000);
#ifdef _WIN32
    local ? localtime_s(&parts.fields, &seconds) : gmtime_s(&parts.fields, &seconds);
#else
    local ? localtime_r(&seconds, &parts.fields) : gmtime_r(&seconds, &parts.fields);
#endif
    return parts;
}

// strftime `format` followed by ".mmm".
std::string FormatTime(const TimeParts& parts, const char* format) {
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, format, &parts.fields);
    std::snprintf(text + n, sizeof text - n, ".%03d", parts.millis);
    return text;
}

std::string IsoTime(std::chrono::system_clock::time_point time) {
    return FormatTime(SplitTime(time, false), "%Y-%m-%dT%H:%M:%S") + "Z";
}

// Minutes to add to the local time to get UTC, as Windows reports a time zone's bias.
long BiasMinutes(std::chrono::system_clock::time_point time) {
    const std::tm local = SplitTime(time, true).fields;
    const std::tm utc = SplitTime(time, false).fields;
    long days = local.tm_yday - utc.tm_yday;
    if (local.tm_year != utc.tm_year) days = local.tm_year > utc.tm_year ? 1 : -1;
    const long localMinutes = (days * 24 + local.tm_hour) * 60 + local.tm_min;
    return utc.tm_hour * 60L + utc.tm_min - localMinutes;
}

std::string ValueText(const SampleRow& row) {
    return row.numeric ? std::to_string(row.number) : row.text.str();
}

// typeperf writes every value with six decimals ("21.000000"); the values
// here are whole numbers, so the decimals are exact.
std::string PdhValueText(const SampleRow& row) {
    return row.numeric ? std::to_string(row.number) + ".000000" : row.text.str();
}

std::string Pad(const std::string& text, std::size_t width, bool right) {
    const std::size_t columns = DisplayColumns(text);
    const std::string fill(width > columns ? width - columns : 0, ' ');
    return right ? fill + text : text + fill;
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

}  // namespace

std::string FormatTable(const Sample& sample) {
    // Names are shown with their control characters escaped and padded by the
    // columns they take, so wide characters keep the table aligned.
    std::vector<std::array<std::string, 4>> cells{{"Object", "Instance", "Counter", "Value"}};
    for (const SampleRow& row : sample.rows)
        cells.push_back({EscapeControls(row.object), EscapeControls(row.instance),
                         EscapeControls(row.counter), EscapeControls(ValueText(row))});
    std::size_t width[4] = {};
    for (const auto& line : cells)
        for (int i = 0; i < 4; ++i) width[i] = std::max(width[i], DisplayColumns(line[i]));
    std::string out = "Sample " + std::to_string(sample.sequence) + "  " + IsoTime(sample.time) +
                      "\n";
    for (const auto& line : cells)
        out += Pad(line[0], width[0], false) + "  " + Pad(line[1], width[1], false) + "  " +
               Pad(line[2], width[2], false) + "  " + Pad(line[3], width[3], true) + "\n";
    return out;
}

std::string FormatCsv(const Sample& sample, bool withHeader) {
    std::string out = withHeader ? "sample,time,object,instance,counter,value\n" : "";
    const std::string time = IsoTime(sample.time);
    for (const SampleRow& row : sample.rows)
        out += std::to_string(sample.sequence) + "," + time + "," + CsvField(row.object) + "," +
               CsvField(row.instance) + "," + CsvField(row.counter) + "," +
               CsvField(ValueText(row)) + "\n";
    return out;
}

std::string FormatJsonLine(const Sample& sample) {
    std::string out = "{\"sample\":" + std::to_string(sample.sequence) +
                      ",\"time\":" + JsonString(IsoTime(sample.time)) + ",\"values\":[";
    for (std::size_t i = 0; i < sample.rows.size(); ++i) {
        const SampleRow& row = sample.rows[i];
        if (i != 0) out += ",";
        out += "{\"object\":" + JsonString(row.object) + ",\"instance\":" +
               (row.instance.empty() ? std::string("null") : JsonString(row.instance)) +
               ",\"counter\":" + JsonString(row.counter) + ",\"value\":" +
               (row.numeric ? std::to_string(row.number) : JsonString(row.text)) + "}";
    }
    return out + "]}\n";
}

std::string PdhLog::Field(const std::string& text) const {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string PdhLog::Format(const Sample& sample) {
    std::string out;
    if (!started_) out = Header(sample);  // fixes the columns first
    started_ = true;
    out += Row(sample);
    return out;
}

std::string PdhLog::Header(const Sample& first) {
    const TimeParts local = SplitTime(first.time, true);
    char zone[64] = "";
    std::strftime(zone, sizeof zone, "%Z", &local.fields);
    std::string out = Field(std::string(separator_ == '\t' ? "(PDH-TSV 4.0) (" : "(PDH-CSV 4.0) (") +
                            zone + ")(" + std::to_string(BiasMinutes(first.time)) + ")");
    columns_.clear();
    names_.clear();
    columnCount_ = first.rows.size();
    // Room for the first row too, which Format appends.
    out.reserve(out.size() + first.rows.size() * (computer_.size() + 100));
    for (const SampleRow& row : first.rows) {
        ColumnKey key;
        for (auto part : {std::make_pair(&row.object.str(), &key.object),
                          std::make_pair(&row.instance.str(), &key.instance),
                          std::make_pair(&row.counter.str(), &key.counter)})
            *part.second = names_.emplace(*part.first, static_cast<std::uint32_t>(names_.size()))
                               .first->second;
        columns_.emplace(key, &row - first.rows.data());
        out += separator_;
        out += Field("\\\\" + computer_ + "\\" + row.object.str() +
                     (row.instance.empty() ? "" : "(" + row.instance.str() + ")") + "\\" +
                     row.counter.str());
    }
    out += '\n';
    return out;
}

bool PdhLog::FindColumn(const SampleRow& row, ColumnKey* key) const {
    for (auto part : {std::make_pair(&row.object.str(), &key->object),
                      std::make_pair(&row.instance.str(), &key->instance),
                      std::make_pair(&row.counter.str(), &key->counter)}) {
        const auto name = names_.find(*part.first);
        if (name == names_.end()) return false;
        *part.second = name->second;
    }
    return true;
}

std::string PdhLog::Row(const Sample& sample) const {
    std::vector<const SampleRow*> values(columnCount_, nullptr);
    for (const SampleRow& row : sample.rows) {
        ColumnKey key;
        if (!FindColumn(row, &key)) continue;
        const auto column = columns_.find(key);
        if (column != columns_.end()) values[column->second] = &row;
    }
    std::string out = Field(FormatTime(SplitTime(sample.time, true), "%m/%d/%Y %H:%M:%S"));
    out.reserve(values.size() * 8);
    for (const SampleRow* value : values) {
        out += separator_;
        out += Field(value != nullptr ? PdhValueText(*value) : " ");
    }
    out += '\n';
    return out;
}

}  // namespace qvperf
