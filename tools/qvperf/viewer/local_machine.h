// The computer qvperf runs on: it reads counters only there, since it loads
// the library into its own process as perflib does.
#pragma once
#include <string>

namespace qvperf {

// The computer's name as typeperf writes it in \\Computer paths.
std::string LocalComputerName();

// Whether `name` (with or without a leading \\) names this computer: its
// name in any ASCII case, ".", "localhost", "127.0.0.1" or "::1".
bool IsLocalComputer(const std::string& name);

}  // namespace qvperf
