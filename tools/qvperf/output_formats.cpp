#include <algorithm>
#include <cstdio>

#include "sample.h"

namespace qvperf {

namespace {

std::string IsoTime(std::time_t t) {
    char text[32];
    std::tm parts{};
#ifdef _WIN32
    gmtime_s(&parts, &t);
#else
    gmtime_r(&t, &parts);
#endif
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::string ValueText(const SampleRow& row) {
    return row.numeric ? std::to_string(row.number) : row.text;
}

// Width on a terminal: one column per UTF-8 code point.
std::size_t Columns(const std::string& text) {
    std::size_t n = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

std::string Pad(const std::string& text, std::size_t width, bool right) {
    const std::string fill(width > Columns(text) ? width - Columns(text) : 0, ' ');
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
    const char* titles[4] = {"Object", "Instance", "Counter", "Value"};
    std::size_t width[4];
    for (int i = 0; i < 4; ++i) width[i] = Columns(titles[i]);
    for (const SampleRow& row : sample.rows) {
        width[0] = std::max(width[0], Columns(row.object));
        width[1] = std::max(width[1], Columns(row.instance));
        width[2] = std::max(width[2], Columns(row.counter));
        width[3] = std::max(width[3], Columns(ValueText(row)));
    }
    std::string out = "Sample " + std::to_string(sample.sequence) + "  " + IsoTime(sample.time) +
                      "\n";
    out += Pad(titles[0], width[0], false) + "  " + Pad(titles[1], width[1], false) + "  " +
           Pad(titles[2], width[2], false) + "  " + Pad(titles[3], width[3], true) + "\n";
    for (const SampleRow& row : sample.rows)
        out += Pad(row.object, width[0], false) + "  " + Pad(row.instance, width[1], false) +
               "  " + Pad(row.counter, width[2], false) + "  " +
               Pad(ValueText(row), width[3], true) + "\n";
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

}  // namespace qvperf
