#include "metric_name.h"

#include "support/wide_string.h"

namespace qvperf {

namespace {

// Latin-1 letters with diacritics and their base letter (lower case).
char FoldLatin1(char16_t c) {
    static const char kFold[64 + 1] =
        // U+00C0 .. U+00FF
        "aaaaaaaceeeeiiiidnooooo_ouuuuyts"
        "aaaaaaaceeeeiiiidnooooo_ouuuuyty";
    if (c >= 0xC0 && c <= 0xFF) return kFold[c - 0xC0];
    return '_';
}

}  // namespace

std::string MetricName(const std::string& utf8Name) {
    std::string name = "quorvane_";
    const std::size_t stem = name.size();
    for (char16_t c : vz::Utf8ToUtf16(utf8Name)) {
        char out;
        if (c >= 'A' && c <= 'Z')
            out = static_cast<char>(c - 'A' + 'a');
        else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
            out = static_cast<char>(c);
        else
            out = FoldLatin1(c);
        if (out == '_' && (name.size() == stem || name.back() == '_')) continue;
        name.push_back(out);
    }
    while (name.size() > stem && name.back() == '_') name.pop_back();
    if (name.size() == stem) name += "unnamed";
    return name;
}

std::string EscapeMetricText(const std::string& text, bool quotes) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '"' && quotes)
            out += "\\\"";
        else
            out.push_back(c);
    }
    return out;
}

}  // namespace qvperf
