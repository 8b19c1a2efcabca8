// Which registry file the Linux tools use: one place decides it for qvreg,
// qvsim and qvperf, so that a registration made in one shell is found by the
// tools in another without any variable set.
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include "platform/emulated/emulated_control.h"

namespace vz {
namespace emu {

namespace {

const char kVariable[] = "VUDOZID_REGISTRY";

bool MakeFolders(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1))
        if (mkdir(path.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST) return false;
    return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

}  // namespace

std::string DefaultRegistryFile() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') return std::string(state) + "/vudozid/registry.reg";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return std::string(home) + "/.local/state/vudozid/registry.reg";
    return {};
}

}  // namespace emu

namespace plat {

std::string UseRegistryFile(const std::string& file) {
    std::string chosen = file;
    if (chosen.empty()) {
        const char* named = std::getenv(emu::kVariable);
        if (named != nullptr && named[0] != '\0') return named;
        chosen = emu::DefaultRegistryFile();
        if (chosen.empty() || !emu::MakeFolders(chosen.substr(0, chosen.rfind('/')))) return {};
    }
    setenv(emu::kVariable, chosen.c_str(), 1);
    return chosen;
}

}  // namespace plat
}  // namespace vz
