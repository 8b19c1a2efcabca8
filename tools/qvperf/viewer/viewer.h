// The typeperf-style viewer: samples the library at an interval and writes
// each sample as a table, CSV, JSON lines, OpenMetrics text or typeperf's log,
// or lists the counter paths (-q, -qx).
#pragma once
#include <string>
#include <vector>

#include "viewer/counter_path.h"
#include "viewer/options.h"

namespace qvperf {

// What the command line names, checked before anything is loaded: the counter
// paths (of the command line and -cf), the computer and the output file.
// 0 with `*paths` filled, else the exit status after a message.
int CheckViewerCommandLine(const Options& options, std::vector<CounterPath>* paths);

// Samples until done or stopped; the exit status. `notRegisteredHint` ends the
// message when the service's library cannot be found.
int RunViewer(const Options& options, const std::vector<CounterPath>& paths,
              const std::string& notRegisteredHint);

}  // namespace qvperf
