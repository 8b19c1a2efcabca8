// A perflib v1 library hosted the way perflib hosts it: found through the
// service's Performance key, loaded, opened once, collected from per sample
// and closed at the end.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/compiler.h"

namespace qvperf {

class PerfLibrary {
public:
    PerfLibrary() = default;
    ~PerfLibrary();
    PerfLibrary(const PerfLibrary&) = delete;
    PerfLibrary& operator=(const PerfLibrary&) = delete;

    // Reads the Performance key of `service`, loads "Library", resolves "Open",
    // "Collect" and "Close" and calls Open. False with a message on failure.
    [[nodiscard]] bool Open(const std::string& service, std::string* error);
    // One sample: Collect with `query`, the buffer grown on ERROR_MORE_DATA.
    // False with a message when the library fails or wants more than the cap.
    [[nodiscard]] bool Collect(const std::string& query, std::vector<unsigned char>* data,
                 std::uint32_t* objectCount, std::string* error);
    // Close and Open through the entry points, the library staying loaded: the
    // next Collect starts again from the provider's current blocks.
    [[nodiscard]] bool Reopen(std::string* error);
    void Close();

    const std::string& LibraryPath() const { return libraryPath_; }

private:
    using OpenFn = vz::DWORD(VZ_STDCALL*)(const vz::WCHAR*);
    using CollectFn = vz::DWORD(VZ_STDCALL*)(const vz::WCHAR*, void**, vz::DWORD*,
                                                      vz::DWORD*);
    using CloseFn = vz::DWORD(VZ_STDCALL*)();

    vz::plat::HMODULE module_ = nullptr;
    OpenFn open_ = nullptr;
    CollectFn collect_ = nullptr;
    CloseFn close_ = nullptr;
    bool opened_ = false;
    std::string libraryPath_;
    std::size_t bufferSize_ = 64 * 1024;
};

}  // namespace qvperf
