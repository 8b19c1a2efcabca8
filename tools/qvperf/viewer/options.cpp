#include "viewer/options.h"

#include <sstream>

#include "exporter/listen_address.h"
#include "support/decimal.h"
#include "viewer/text_file.h"

namespace qvperf {

namespace {

// typeperf's [[hh:]mm:]ss, where the seconds may have a fraction: 5, 0.5, 1:30, 1:00:00.
bool ParseInterval(const std::string& text, double* seconds, std::string* error) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, ':');) parts.push_back(part);
    if (!text.empty() && text.back() == ':') parts.push_back("");
    if (parts.size() > 3) {
        *error = "-si: '" + text + "' is not an interval ([[hh:]mm:]ss, like 1, 0.5 or 1:30)";
        return false;
    }
    if (parts.size() <= 1) return vz::ParseSeconds("-si", text, 0.001, 86400, seconds, error);
    double total = 0;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        vz::ULONGLONG value = 0;
        if (!vz::ParseWholeNumber(i == 0 ? "-si (hours or minutes)" : "-si (minutes)", parts[i], 0,
                                  i == 0 ? 1440 : 59, &value, error))
            return false;
        total = total * 60 + static_cast<double>(value);
    }
    double lastPart = 0;
    if (!vz::ParseSeconds("-si (seconds)", parts.back(), 0, 59.999, &lastPart, error)) return false;
    total = total * 60 + lastPart;
    if (total < 0.001 || total > 86400) {
        *error = "-si: '" + text + "' is out of range (1 ms to 24 hours)";
        return false;
    }
    *seconds = total;
    return true;
}

bool SetFormat(Options& o, OutputFormat format, const std::string& chosenBy, std::string* error) {
    if (o.formatGiven && o.format != format) {
        *error = o.formatChosenBy + " and " + chosenBy +
                 " both choose the output format; give only one of them";
        return false;
    }
    o.format = format;
    o.formatChosenBy = chosenBy;
    o.formatGiven = true;
    return true;
}

using Apply = bool (*)(Options& o, const std::string& value, std::string* error);

struct OptionEntry {
    const char* name;
    const char* value;  // placeholder of the value; null for a flag
    const char* help;
    Apply apply;
};

// Every option, in the order --help shows them.
const OptionEntry kOptions[] = {
    {"-cf", "FILE", "file with one counter path per line",
     [](Options& o, const std::string& v, std::string*) { return o.counterFile = v, true; }},
    {"-si", "INTERVAL", "time between samples, [[hh:]mm:]ss, fractions allowed (default 1)",
     [](Options& o, const std::string& v, std::string* e) { return ParseInterval(v, &o.interval, e); }},
    {"-sc", "SAMPLES", "number of samples (default 1; without it -si samples until stopped)",
     [](Options& o, const std::string& v, std::string* e) {
         vz::ULONGLONG count = 0;
         if (!vz::ParseWholeNumber("-sc", v, 1, 1000000000, &count, e)) return false;
         return o.count = static_cast<long>(count), true;
     }},
    {"-f", "CSV|TSV", "typeperf's log layout (PDH-CSV 4.0 or PDH-TSV 4.0); the default with -o",
     [](Options& o, const std::string& v, std::string* e) {
         if (SameName(v, "CSV")) return SetFormat(o, OutputFormat::PdhCsv, "-f " + v, e);
         if (SameName(v, "TSV")) return SetFormat(o, OutputFormat::PdhTsv, "-f " + v, e);
         *e = "-f: \"" + v + "\" is not a log format qvperf writes; give CSV or TSV" +
              (SameName(v, "BIN") || SameName(v, "SQL") ? " (binary and SQL logs are typeperf's own)"
                                                        : "");
         return false;
     }},
    {"-o", "FILE", "write to FILE instead of standard output",
     [](Options& o, const std::string& v, std::string*) { return o.outputFile = v, true; }},
    {"-y", nullptr, "overwrite the -o file without asking",
     [](Options& o, const std::string&, std::string*) { return o.overwrite = true, true; }},
    {"-q", nullptr, "list the counter paths (instances as *), then stop; [OBJECT] names one object",
     [](Options& o, const std::string&, std::string*) {
         return o.listing = Listing::Counters, true;
     }},
    {"-qx", nullptr, "the same with every instance of the first sample",
     [](Options& o, const std::string&, std::string*) {
         return o.listing = Listing::Instances, true;
     }},
    {"-s", "COMPUTER", "the computer to read: only this one (its name, . or localhost)",
     [](Options& o, const std::string& v, std::string*) { return o.computer = v, true; }},
    {"--format", "FORMAT", "table (default), csv, jsonl or prometheus: qvperf's own layouts",
     [](Options& o, const std::string& v, std::string* e) {
         const char* names[] = {"table", "csv", "jsonl", "prometheus"};
         const OutputFormat formats[] = {OutputFormat::Table, OutputFormat::Csv,
                                         OutputFormat::JsonLines, OutputFormat::Prometheus};
         for (int i = 0; i < 4; ++i)
             if (v == names[i]) return SetFormat(o, formats[i], "--format " + v, e);
         *e = "--format: unknown format \"" + v + "\"; give table, csv, jsonl or prometheus";
         return false;
     }},
    {"--serve", "PORT", "serve /metrics and /health on http://127.0.0.1:PORT/",
     [](Options& o, const std::string& v, std::string* e) {
         vz::ULONGLONG port = 0;
         if (!vz::ParseWholeNumber("--serve", v, 1, 65535, &port, e)) return false;
         return o.listen = "127.0.0.1:" + std::to_string(port), true;
     }},
    {"--listen", "ADDR:PORT",
     "serve on that address instead (default 127.0.0.1:9464; [::1]:PORT for IPv6; :PORT on every "
     "interface; port 0: any)",
     [](Options& o, const std::string& v, std::string* e) {
         std::string address;
         unsigned short port = 0;
         if (!SplitListenAddress(v, &address, &port)) {
             *e = "--listen: \"" + v + "\" is not ADDRESS:PORT, e.g. 127.0.0.1:9464, [::1]:9464 or :9464";
             return false;
         }
         return o.listen = v, true;
     }},
    {"--ignore-disabled-counters", nullptr,
     "serve although the performance key says \"Disable Performance Counters\"",
     [](Options& o, const std::string&, std::string*) { return o.ignoreDisabledCounters = true, true; }},
    {"--install-service", nullptr, "install the Windows service VudoZidExporter (with --listen)",
     [](Options& o, const std::string&, std::string*) { return o.serviceCommand = "--install-service", true; }},
    {"--remove-service", nullptr, "stop and remove the Windows service VudoZidExporter",
     [](Options& o, const std::string&, std::string*) { return o.serviceCommand = "--remove-service", true; }},
    {"--run-as-service", nullptr, "serve under the service control manager (the service's command line)",
     [](Options& o, const std::string&, std::string*) { return o.serviceCommand = "--run-as-service", true; }},
    {"--service", "NAME", "service key of the library (default \"Quorvane Server ITA\")",
     [](Options& o, const std::string& v, std::string*) { return o.service = v, true; }},
    {"--lang", "CODE", "perflib language of the names (default: the system's, else 009)",
     [](Options& o, const std::string& v, std::string*) { return o.language = v, true; }},
    {"--query", "TEXT", "Collect's value name (default Global)",
     [](Options& o, const std::string& v, std::string*) { return o.query = v, true; }},
    {"--registry", "FILE", "the emulated registry file (Linux; see VUDOZID_REGISTRY below)",
     [](Options& o, const std::string& v, std::string*) { return o.registry = v, true; }},
    {"--version", nullptr, "print qvperf's version and stop",
     [](Options& o, const std::string&, std::string*) { return o.version = true, true; }},
    {"-h", nullptr, "this help (also --help, -?)",
     [](Options& o, const std::string&, std::string*) { return o.help = true, true; }},
};

const OptionEntry* FindOption(const std::string& name) {
    if (name == "--help" || name == "-?") return FindOption("-h");
    for (const OptionEntry& entry : kOptions)
        if (name == entry.name) return &entry;
    return nullptr;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error,
                  bool* showUsage) {
    *showUsage = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() > 1 && arg[0] == '-') {
            const OptionEntry* entry = FindOption(arg);
            if (entry == nullptr) {
                *error = "unknown option " + arg;
                *showUsage = true;
                return false;
            }
            std::string value;
            if (entry->value != nullptr) {
                if (i + 1 >= args.size()) {
                    *error = arg + " needs a value: " + arg + " " + entry->value;
                    *showUsage = true;
                    return false;
                }
                value = args[++i];
            }
            if (!entry->apply(*options, value, error)) return false;
        } else if (options->listing != Listing::None && !arg.empty() && arg[0] != '\\') {
            options->objectNames.push_back(arg);
        } else {
            options->pathTexts.push_back(arg);
        }
    }
    if (!options->formatGiven && !options->outputFile.empty()) options->format = OutputFormat::PdhCsv;
    if (!options->listen.empty() && !options->outputFile.empty()) {
        *error = "--serve answers over HTTP and writes no file; leave out -o";
        return false;
    }
    return true;
}

std::string UsageText() {
    std::string out =
        "usage: qvperf [options] [counter path ...]\n"
        "  counter path    [\\\\COMPUTER]\\Object(Instance)\\Counter; '*' and '?' match any\n"
        "                  text or one character, e.g. \\Quorvane Server 11(Quorvane0*)\\*;\n"
        "                  default \\*(*)\\*\n";
    for (const OptionEntry& entry : kOptions) {
        std::string left = std::string("  ") + entry.name + (entry.value ? std::string(" ") + entry.value : "");
        left.resize(left.size() < 18 ? 18 : left.size() + 1, ' ');
        out += left + entry.help + "\n";
    }
    out +=
        "-f and --format both choose the output format; giving both is refused.\n"
        "\n"
        "Environment (Linux build):\n"
        "  VUDOZID_REGISTRY       the emulated registry file that qvreg, qvsim and qvperf\n"
        "                         share; --registry overrides it. When neither is given:\n"
        "                         $XDG_STATE_HOME/vudozid/registry.reg, else\n"
        "                         ~/.local/state/vudozid/registry.reg (scripts/main-job.sh\n"
        "                         registers there)\n"
        "  VUDOZID_SHM_NAMESPACE  keeps the shared memory of programs run side by side apart;\n"
        "                         give qvperf the value the server (qvsim) runs with\n"
        "\n"
        "Exit status: 0 success, 1 a failure while reading or writing, 2 a mistake in the\n"
        "command line, a counter path or the -cf file.\n";
    return out;
}

bool CollectCounterPaths(const Options& options, std::vector<CounterPath>* paths,
                         std::string* error) {
    auto add = [&](const std::string& text, const std::string& where) {
        CounterPath path;
        std::string why;
        if (!ParseCounterPath(text, &path, &why)) {
            *error = where + "bad counter path \"" + text + "\": " + why;
            return false;
        }
        paths->push_back(path);
        return true;
    };
    for (const std::string& text : options.pathTexts)
        if (!add(text, "")) return false;
    for (const std::string& object : options.objectNames)
        if (!add("\\" + object + "(*)\\*", "")) return false;
    if (!options.counterFile.empty()) {
        const std::size_t before = paths->size();
        std::string text;
        if (!ReadFile(options.counterFile, &text, error)) {
            *error = "-cf: " + *error;
            return false;
        }
        if (text.compare(0, 2, "\xFF\xFE") == 0 || text.compare(0, 2, "\xFE\xFF") == 0) {
            *error = options.counterFile + " is UTF-16 text; save it as UTF-8";
            return false;
        }
        if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
        std::istringstream in(text);
        std::string line;
        for (int number = 1; std::getline(in, line); ++number) {
            const std::size_t first = line.find_first_not_of(" \t\r");
            if (first == std::string::npos || line[first] == '#') continue;
            line = line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
            if (!add(line, options.counterFile + ":" + std::to_string(number) + ": ")) return false;
        }
        if (paths->size() == before) {
            *error = "-cf: " + options.counterFile + " names no counter path";
            return false;
        }
    }
    if (paths->empty()) add("\\*(*)\\*", "");
    return true;
}

}  // namespace qvperf
