#include "reader/perf_library.h"

#include <cstring>

#include "platform/registry_key.h"
#include "support/hresult.h"
#include "support/registry_paths.h"
#include "support/unit_terminator.h"
#include "support/wide_string.h"

namespace qvperf {

namespace {

namespace plat = vz::plat;
constexpr vz::DWORD kMoreData = vz::ERROR_MORE_DATA;
constexpr std::size_t kLargestBuffer = 64u * 1024 * 1024;

bool ReadString(plat::HKEY key, const char16_t* name, std::u16string* value) {
    vz::DWORD type = 0, size = 0;
    if (plat::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != 0 ||
        (type != plat::REG_SZ && type != plat::REG_EXPAND_SZ))
        return false;
    std::vector<vz::BYTE> data(size + 2, 0);
    if (plat::RegQueryValueExW(key, name, nullptr, &type, data.data(), &size) != 0) return false;
    // Up to the first zero unit, else every whole unit of the value.
    std::size_t units = 0;
    if (!vz::FindUnitTerminator(data.data(), data.size() / 2, &units)) units = data.size() / 2;
    value->assign(units, u'\0');
    if (units != 0) std::memcpy(&(*value)[0], data.data(), 2 * units);
    return true;
}

// The entry point by its registered name; a library built for a platform
// without name decoration exports "_Name@N" as plain "Name".
void* Resolve(plat::HMODULE module, const std::string& name) {
    if (void* f = plat::GetProcAddress(module, name.c_str())) return f;
    const std::size_t at = name.rfind('@');
    if (name.size() > 1 && name[0] == '_' && at != std::string::npos && at > 1)
        return plat::GetProcAddress(module, name.substr(1, at - 1).c_str());
    return nullptr;
}

}  // namespace

PerfLibrary::~PerfLibrary() { Close(); }

bool PerfLibrary::Open(const std::string& service, std::string* error) {
    const std::u16string path =
        vz::PerformanceKeyPath(vz::Utf8ToUtf16(service).c_str()).ToU16();
    vz::CKeyHandle key;
    if (key.Open(plat::HKeyLocalMachine(), path.c_str(), plat::KEY_READ) != 0) {
        *error = "service \"" + service + "\" is not registered (no key HKLM\\" +
                 vz::Utf16ToUtf8(path) + ")";
        return false;
    }
    std::u16string library, openName, collectName, closeName;
    const bool complete = ReadString(key.Get(), u"Library", &library) &&
                          ReadString(key.Get(), u"Open", &openName) &&
                          ReadString(key.Get(), u"Collect", &collectName) &&
                          ReadString(key.Get(), u"Close", &closeName);
    key.Close();
    if (!complete) {
        *error = "service \"" + service +
                 "\" is not registered completely (Library, Open, Collect and Close are needed)";
        return false;
    }
    libraryPath_ = vz::Utf16ToUtf8(library);
    module_ = plat::LoadLibraryExW(library.c_str(), nullptr, 0);
    if (module_ == nullptr) {
        *error = "library " + libraryPath_ + " cannot be loaded (error " +
                 std::to_string(plat::GetLastError()) + ")";
        return false;
    }
    const std::string names[3] = {vz::Utf16ToUtf8(openName), vz::Utf16ToUtf8(collectName),
                                  vz::Utf16ToUtf8(closeName)};
    void* entries[3];
    for (int i = 0; i < 3; ++i) {
        entries[i] = Resolve(module_, names[i]);
        if (entries[i] == nullptr) {
            *error = "library " + libraryPath_ + " has no entry point " + names[i];
            Close();
            return false;
        }
    }
    open_ = reinterpret_cast<OpenFn>(entries[0]);
    collect_ = reinterpret_cast<CollectFn>(entries[1]);
    close_ = reinterpret_cast<CloseFn>(entries[2]);
    const vz::DWORD status = open_(nullptr);
    if (status != 0) {
        *error = "Open of " + libraryPath_ + " failed with error " + std::to_string(status);
        Close();
        return false;
    }
    opened_ = true;
    return true;
}

bool PerfLibrary::Collect(const std::string& query, std::vector<unsigned char>* data,
                          std::uint32_t* objectCount, std::string* error) {
    const std::u16string value = vz::Utf8ToUtf16(query);
    for (;;) {
        data->assign(bufferSize_, 0);
        void* cursor = data->data();
        vz::DWORD bytes = static_cast<vz::DWORD>(data->size());
        vz::DWORD count = 0;
        const vz::DWORD status = collect_(value.c_str(), &cursor, &bytes, &count);
        if (status == kMoreData) {
            if (bufferSize_ >= kLargestBuffer) {
                *error = "Collect still wants more data with a buffer of 64 MiB";
                return false;
            }
            bufferSize_ *= 2;
            continue;
        }
        if (status != 0) {
            *error = "Collect failed with error " + std::to_string(status);
            return false;
        }
        const std::size_t advanced =
            static_cast<std::size_t>(static_cast<unsigned char*>(cursor) - data->data());
        if (bytes > data->size()) {
            *error = "Collect reported " + std::to_string(bytes) + " bytes in a buffer of " +
                     std::to_string(data->size());
            return false;
        }
        if (advanced != bytes) {
            // Perflib trusts the byte count; the pointer should agree with it.
            *error = "Collect moved the data pointer by " + std::to_string(advanced) +
                     " bytes but reported " + std::to_string(bytes);
            return false;
        }
        data->resize(bytes);
        *objectCount = count;
        return true;
    }
}

bool PerfLibrary::Reopen(std::string* error) {
    if (module_ == nullptr) {
        *error = "no library loaded";
        return false;
    }
    if (opened_) close_();
    opened_ = false;
    const vz::DWORD status = open_(nullptr);
    if (status != 0) {
        *error = "Open of " + libraryPath_ + " failed with error " + std::to_string(status);
        return false;
    }
    opened_ = true;
    return true;
}

void PerfLibrary::Close() {
    if (opened_ && close_ != nullptr) close_();
    opened_ = false;
    if (module_ != nullptr) plat::FreeLibrary(module_);
    module_ = nullptr;
    open_ = nullptr;
    collect_ = nullptr;
    close_ = nullptr;
}

}  // namespace qvperf
