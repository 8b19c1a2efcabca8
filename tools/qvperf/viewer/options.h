// qvperf's command line: typeperf's options for one machine and qvperf's own,
// described by one table that both the parser and --help read.
#pragma once
#include <string>
#include <vector>

#include "viewer/counter_path.h"

namespace qvperf {

enum class OutputFormat { Table, Csv, JsonLines, Prometheus, PdhCsv, PdhTsv };
enum class Listing { None, Counters, Instances };  // -q, -qx

struct Options {
    std::vector<std::string> pathTexts;   // as given on the command line
    std::vector<std::string> objectNames;  // -q/-qx OBJECT, as typeperf takes them
    std::string counterFile;               // -cf
    double interval = -1;                  // seconds; -1: not given
    long count = -1;                       // -1: not given
    OutputFormat format = OutputFormat::Table;
    std::string formatChosenBy;            // the option that chose the format, for messages
    bool formatGiven = false;
    std::string outputFile;  // -o
    bool overwrite = false;  // -y
    Listing listing = Listing::None;
    std::string computer;  // -s
    std::string listen;                   // ADDRESS:PORT to serve on (--serve, --listen)
    bool ignoreDisabledCounters = false;  // serve although "Disable Performance Counters" is set
    std::string serviceCommand;           // --install-service, --remove-service or --run-as-service
    std::string service = "Quorvane Server ITA";
    std::string language;  // empty: the system's default language, else 009
    std::string query = "Global";
    std::string registry;
    bool help = false;
    bool version = false;  // --version
};

// Parses `args`. False with a message for the first mistake; `*showUsage` tells
// whether the usage line would help the user (an unknown option, a missing
// value), as against a value that is wrong in itself.
[[nodiscard]] bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error,
                  bool* showUsage);

// The --help text, from the same table the parser reads.
std::string UsageText();

// The counter paths of the command line, of -q/-qx OBJECT names and of the
// -cf file, in that order; every path of the machine \\* when none is given.
// False with a message naming the file and line of a bad one.
[[nodiscard]] bool CollectCounterPaths(const Options& options, std::vector<CounterPath>* paths,
                         std::string* error);

}  // namespace qvperf
