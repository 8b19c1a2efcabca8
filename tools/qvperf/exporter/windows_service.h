// qvperf.exe as the Windows service "VudoZidExporter": installed with
// --install-service [--listen ADDR:PORT] to start automatically and run
// "qvperf.exe --run-as-service --listen ADDR:PORT", removed (stopped first)
// with --remove-service. Under the service control manager, a stop or
// shutdown request ends the exporter cleanly.
#pragma once
#include <functional>
#include <string>

namespace qvperf {

constexpr char kServiceName[] = "VudoZidExporter";
constexpr char kServiceDisplayName[] = "VudoZid Prometheus exporter";

// False with a message on failure (and on platforms without services).
[[nodiscard]] bool InstallExporterService(const std::string& listen, std::string* error);
[[nodiscard]] bool RemoveExporterService(std::string* error);

// Connects to the service control manager and runs `serve` as the service's
// work; `stop` is called from the control handler on a stop or shutdown
// request and must make `serve` return. `serve` returns the exit code.
[[nodiscard]] bool RunAsExporterService(const std::function<int()>& serve, const std::function<void()>& stop,
                          std::string* error);

}  // namespace qvperf
