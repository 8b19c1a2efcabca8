#include "reader/live_sampler.h"

#include "platform/platform.h"
#include "reader/server_presence.h"
#include "support/registry_paths.h"
#include "support/utf_text.h"
#include "support/wide_string.h"

namespace qvperf {

namespace plat = vz::plat;

namespace {

// The loaded library is still the one the service's Performance key names:
// an unregistration, or a registration of another file, shows at the next
// sample as it would to perflib, which reads the key whenever it loads.
bool StillRegistered(const std::string& service, const std::string& libraryPath) {
    const std::u16string path = vz::PerformanceKeyPath(vz::Utf8ToUtf16(service).c_str()).ToU16();
    plat::HKEY key = nullptr;
    if (plat::RegOpenKeyExW(plat::HKeyLocalMachine(), path.c_str(), 0, plat::KEY_READ, &key) != 0)
        return false;
    vz::WCHAR library[plat::MAX_PATH + 1] = {};
    vz::DWORD type = 0, size = sizeof library - sizeof(vz::WCHAR);
    const bool read = plat::RegQueryValueExW(key, u"Library", nullptr, &type,
                                             reinterpret_cast<vz::BYTE*>(library), &size) == 0;
    plat::RegCloseKey(key);
    return read && vz::Utf16ToUtf8(library) == libraryPath;
}

}  // namespace

bool LiveSampler::Take(DecodeResult* decoded, bool* serverUp, std::string* error) {
    *decoded = DecodeResult();  // the last sample's memory goes before the next is decoded
    *serverUp = false;
    bool ready = !library_.LibraryPath().empty() &&
                 StillRegistered(service_, library_.LibraryPath()) && library_.Reopen(error);
    if (!ready) {
        library_.Close();
        ready = library_.Open(service_, error);
    }
    if (!ready) return false;
    const bool upBefore = ServerPublishing(service_);
    std::uint32_t count = 0;
    if (!library_.Collect(query_, &buffer_, &count, error)) return false;
    *serverUp = upBefore && ServerPublishing(service_);
    *decoded = DecodePerfData(buffer_.data(), buffer_.size(), count);
    if (!*serverUp) DropInstances(decoded);
    return true;
}

}  // namespace qvperf
