#include "viewer/local_machine.h"

#include <cstdlib>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "viewer/counter_path.h"

namespace qvperf {

std::string LocalComputerName() {
#ifdef _WIN32
    const char* name = std::getenv("COMPUTERNAME");
    return name != nullptr && *name != '\0' ? name : "LOCALHOST";
#else
    char name[256] = "";
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    std::string shortName = name;
    return shortName.substr(0, shortName.find('.'));
#endif
}

bool IsLocalComputer(const std::string& given) {
    const std::string name = given.compare(0, 2, "\\\\") == 0 ? given.substr(2) : given;
    return name == "." || SameName(name, "localhost") || name == "127.0.0.1" || name == "::1" ||
           SameName(name, LocalComputerName());
}

}  // namespace qvperf
