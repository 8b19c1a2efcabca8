// The emulated machine as the harnesses drive it (tests, fuzz targets and
// benchmarks on Linux): a fresh machine per case, registry text loaded into
// it, and the counts that show a key or a view left open.
#pragma once
#include <cstddef>
#include <string>

#include "platform/platform.h"

namespace vz {
namespace test {

// An empty registry, no injected faults, registry calls counted from zero (an
// ever longer call log would look like a leak to a fuzzer), blocks of `granularity` bytes.
void ResetMachine(DWORD granularity = 65536);
// Registry text as regedit exports it; false, with nothing loaded, when it does not parse.
bool LoadRegistryText(const std::string& text);
// Registry calls made since the last reset or ResetRegistryCalls.
std::size_t RegistryCalls();
void ResetRegistryCalls();
// Keys, and the reader side's mappings and views, still open: a leak if not zero at the end.
std::size_t OpenRegistryKeys();
std::size_t OpenReaderMappings();

}  // namespace test
}  // namespace vz
