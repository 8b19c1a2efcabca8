#include "reader/server_presence.h"

#include "platform/platform.h"
#include "sharedmem/byte_layout.h"
#include "support/utf_text.h"

namespace qvperf {

namespace plat = vz::plat;

bool ServerPublishing(const std::string& service) {
    char16_t name[512];
    if (vz::FormatClaimName(vz::Utf8ToUtf16(service).c_str(), name, 512) == 0) return false;
    return plat::PublisherClaimHeld(name);
}

void DropInstances(DecodeResult* decoded) {
    for (PerfObject& object : decoded->objects) object.instances.clear();
}

}  // namespace qvperf
