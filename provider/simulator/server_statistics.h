// The object the database server publishes, "Quorvane Server 11", as an SDK
// description built from the published object's table (server_object.h): one
// category, its counters in the table's order, the title indices left 0 for
// vzp_registered_indices to fill in.
#pragma once
#include "server_object.h"
#include "vudozid_provider.h"

namespace qvsim {

constexpr const char* kApplication = quorvane::kApplication;
constexpr unsigned kCounterCount = quorvane::kCounterCount;

static_assert(quorvane::kRawCount == VZP_RAWCOUNT, "the table's raw count is the SDK's");

inline vzp_object ServerStatisticsObject() {
    static const struct Counters {
        vzp_counter items[kCounterCount];
        Counters() : items() {
            for (unsigned i = 0; i < kCounterCount; ++i)
                items[i] = {quorvane::kCounters[i].name, quorvane::kCounters[i].counterType,
                            quorvane::kDetailNovice, 0};
        }
    } counters;
    vzp_object object = {};
    object.id = quorvane::kObjectId;
    object.name = quorvane::kObjectName;
    object.detail_level = quorvane::kDetailNovice;
    object.default_counter = 0;
    object.max_instance_name_length = quorvane::kMaxInstanceNameLength;
    object.counters = counters.items;
    object.counter_count = kCounterCount;
    return object;
}

}  // namespace qvsim
