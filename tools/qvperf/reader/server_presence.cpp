#include "reader/server_presence.h"

#include "platform/platform.h"
#include "sharedmem/byte_layout.h"
#include "support/utf_text.h"

namespace qvperf {

namespace plat = vz::plat;

bool ServerPublishing(const std::string& service) {
    char16_t name[512];
    if (vz::FormatBlockName(vz::Utf8ToUtf16(service).c_str(), 0, name, 512) == 0) return false;
    plat::HANDLE mapping = plat::OpenFileMappingW(plat::FILE_MAP_READ, 0, name);
    if (mapping == nullptr) return false;
    plat::CloseHandle(mapping);
    return true;
}

}  // namespace qvperf
