// Benchmark fixture: the provider SDK publishing `count` instances of
// "Quorvane Server 11" (names Quorvane100000, ...; counter k of instance i
// holds i * 16 + k), and one Collect through the library's entry point.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "collect/perf_exports.h"
#include "server_statistics.h"
#include "vudozid_provider.h"

namespace vz_bench {

struct Published {
    vzp_publisher* publisher = nullptr;
    std::vector<vzp_instance> handles;
    explicit Published(int count) {
        const vzp_object object = qvsim::ServerStatisticsObject();
        vzp_open(qvsim::kApplication, &object, &publisher);
        std::uint64_t values[qvsim::kCounterCount];
        for (int i = 0; i < count; ++i) {
            const std::string name = "Quorvane" + std::to_string(100000 + i);
            vzp_instance h = 0;
            vzp_add_instance(publisher, name.c_str(), &h);
            for (unsigned k = 0; k < qvsim::kCounterCount; ++k)
                values[k] = static_cast<std::uint64_t>(i) * 16 + k;
            vzp_set_all(publisher, h, values, qvsim::kCounterCount);
            handles.push_back(h);
        }
    }
    ~Published() { vzp_close(publisher); }
    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;
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
