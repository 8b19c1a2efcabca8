// What a list of counter paths selects from one decoded sample: the rows to
// print, the paths that name nothing there (with what exists instead), the
// objects left without instances, and the path list of -q and -qx.
#pragma once
#include <string>
#include <vector>

#include "reader/perf_decoder.h"
#include "reader/title_names.h"
#include "viewer/counter_path.h"
#include "viewer/sample.h"

namespace qvperf {

// The rows in the order of the paths, each path's in buffer order, each value
// once: a log's columns follow the counter list as typeperf's do. Instances
// are named as UniqueInstanceNames names them, in the paths too.
Sample BuildSample(const DecodeResult& decoded, const TitleNames& titles,
                   const std::vector<CounterPath>& paths, int sequence);

// Empty when the path names an object, counter and instance the data has;
// otherwise which part is unknown and what there is instead. An instance
// named without wildcards must be there now; "*" also matches no instance,
// unless the path `needsValues` (a log's columns are fixed by its first sample).
std::string CheckPath(const CounterPath& path, const DecodeResult& decoded,
                      const TitleNames& titles, bool needsValues);

// The selected objects that have instances but none now, which is how the
// library answers while no server publishes.
std::vector<std::string> ObjectsWithoutInstances(const DecodeResult& decoded,
                                                 const TitleNames& titles,
                                                 const std::vector<CounterPath>& paths);

// One counter path per line, as typeperf -q and -qx print them and -cf reads
// them: instances as (*), or each instance of this sample with `expand`.
std::string FormatCounterList(const DecodeResult& decoded, const TitleNames& titles,
                              const std::vector<CounterPath>& paths, bool expand);

}  // namespace qvperf
