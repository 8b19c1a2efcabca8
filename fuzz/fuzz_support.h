// Helpers shared by the fuzz targets.
#pragma once
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "collect/perf_exports.h"
#include "common/layout_builder.h"
#include "objectmap/perfmon.h"
#include "platform/platform.h"
#include "reader/perf_decoder.h"
#include "registration/registry_access.h"

namespace vz {
namespace fuzz {

constexpr WCHAR kApplication[] = u"Quorvane Server ITA";

// A monitor with no object map of its own: everything comes from the input.
class BareMonitor : public ATL::CPerfMon {
public:
    const WCHAR* ApplicationName() const override { return kApplication; }
};

inline DWORD Word(const std::uint8_t* data) { return test::Get<DWORD>(data); }

// Shared-memory blocks of this process stay apart from any other program's.
inline void UseOwnSharedMemoryNamespace() {
    setenv("VUDOZID_SHM_NAMESPACE", ("fuzz" + std::to_string(getpid())).c_str(), 1);
}

// Writes a value below HKEY_LOCAL_MACHINE, creating the key.
inline void SetValue(const WCHAR* keyPath, const WCHAR* name, DWORD type, const void* bytes,
                     std::size_t size) {
    CKeyHandle key;
    if (key.Create(plat::HKeyLocalMachine(), keyPath, kReadWriteAccess) == 0)
        plat::RegSetValueExW(key.key, name, 0, type, static_cast<const BYTE*>(bytes), static_cast<DWORD>(size));
}

// The input consumed from the front; reads past the end give zeros.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t Byte() { return size_ > 0 ? (--size_, *data_++) : 0; }
    DWORD Word() {
        DWORD v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<DWORD>(Byte()) << (8 * i);
        return v;
    }
    // Up to `count` bytes (fewer when the input runs out).
    std::vector<std::uint8_t> Bytes(std::size_t count) {
        if (count > size_) count = size_;
        std::vector<std::uint8_t> out(data_, data_ + count);
        data_ += count;
        size_ -= count;
        return out;
    }
    std::size_t Left() const { return size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// One CollectPerfMon through the exports into a guarded buffer; every breach of
// perflib's contract or malformed byte of the result stops the fuzzer. The
// result's buffer pointer is null: the buffer is gone with the call.
inline qvperf::CollectCall CheckedCollect(const WCHAR* query, std::size_t capacity,
                                          DWORD objectsBefore = 0) {
    std::vector<unsigned char> buffer;
    qvperf::CollectCall call = qvperf::CallCollect(CollectPerfMon, query, capacity, objectsBefore, &buffer);
    const std::vector<std::string> problems = qvperf::CheckCollectCall(call);
    for (const std::string& problem : problems)
        std::fprintf(stderr, "Collect into %zu bytes: %s\n", capacity, problem.c_str());
    if (!problems.empty()) __builtin_trap();
    call.buffer = nullptr;
    return call;
}

}  // namespace fuzz
}  // namespace vz
