// Benchmark fixture: the provider library publishing `count` instances of
// "Quorvane Server 11" (names Quorvane100000, ...; counter k of instance i
// holds i * 16 + k), and one Collect through the library's entry point.
#pragma once
#include <string>
#include <vector>

#include "collect/perf_exports.h"
#include "provider.h"

namespace vz_bench {

struct Published {
    vz::provider::StatisticsPublisher publisher{vz::provider::kServerApplicationName,
                                                 vz::provider::ServerStatisticsDescription()};
    std::vector<vz::provider::InstanceHandle> handles;
    explicit Published(int count) {
        publisher.Start();
        std::vector<vz::ULONGLONG> values(16);
        for (int i = 0; i < count; ++i) {
            std::string name = "Quorvane" + std::to_string(100000 + i);
            auto h = publisher.AddInstance(4, std::u16string(name.begin(), name.end()));
            for (int k = 0; k < 16; ++k) values[k] = i * 16 + k;
            publisher.SetCounters(h, values);
            handles.push_back(h);
        }
    }
};

// The bytes written; `objects` receives the object count.
inline vz::DWORD CollectOnce(std::vector<vz::BYTE>& buffer, const char16_t* query = u"Global",
                             vz::DWORD* objects = nullptr) {
    void* data = buffer.data();
    vz::DWORD bytes = static_cast<vz::DWORD>(buffer.size());
    vz::DWORD count = 0;
    CollectPerfMon(query, &data, &bytes, &count);
    if (objects != nullptr) *objects = count;
    return bytes;
}

}  // namespace vz_bench
