// Helpers shared by the fuzz targets.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "collect/perf_exports.h"
#include "objectmap/perfmon.h"
#include "perf_decoder.h"

namespace vz {
namespace fuzz {

// A monitor with no object map of its own: everything comes from the input.
class BareMonitor : public ATL::CPerfMon {
public:
    const WCHAR* ApplicationName() const override { return u"Quorvane Server ITA"; }
};

inline DWORD Word(const std::uint8_t* data) {
    DWORD v;
    std::memcpy(&v, data, 4);
    return v;
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
// perflib's contract or malformed byte of the result stops the fuzzer.
// The result's buffer pointer is null.
inline qvperf::CollectCall CheckedCollect(const WCHAR* query, std::size_t capacity,
                                          DWORD objectsBefore = 0) {
    std::vector<unsigned char> buffer;
    const qvperf::CollectCall call =
        qvperf::CallCollect(CollectPerfMon, query, capacity, objectsBefore, &buffer);
    const std::vector<std::string> problems = qvperf::CheckCollectCall(call);
    if (!problems.empty()) {
        for (const std::string& problem : problems)
            std::fprintf(stderr, "Collect into %zu bytes: %s\n", capacity, problem.c_str());
        __builtin_trap();
    }
    qvperf::CollectCall outcome = call;
    outcome.buffer = nullptr;  // the buffer is gone with this function
    return outcome;
}

}  // namespace fuzz
}  // namespace vz
