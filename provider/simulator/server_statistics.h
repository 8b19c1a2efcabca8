// The object the database server publishes, "Quorvane Server 11", as an SDK
// description: category 4, sixteen 32-bit raw counters in the order of the
// library's own object map, instance names of up to 63 UTF-16 units.
#pragma once
#include "vudozid_provider.h"

namespace qvsim {

constexpr const char* kApplication = "Quorvane Server ITA";
constexpr unsigned kCounterCount = 16;

// The title indices are 0; vzp_registered_indices fills them in.
inline vzp_object ServerStatisticsObject() {
    static const vzp_counter kCounters[kCounterCount] = {
        {"Accessi alla cache %", VZP_RAWCOUNT, 100, 0},
        {"% Cache non salvata", VZP_RAWCOUNT, 100, 0},
        {"Lettura KB/sec disco", VZP_RAWCOUNT, 100, 0},
        {"Scrittura KB/sec disco", VZP_RAWCOUNT, 100, 0},
        {"Database aperti", VZP_RAWCOUNT, 100, 0},
        {"Client Quorvane Pro", VZP_RAWCOUNT, 100, 0},
        {"Ingresso KB/sec rete", VZP_RAWCOUNT, 100, 0},
        {"Uscita KB/sec rete", VZP_RAWCOUNT, 100, 0},
        {"Client ODBC/JDBC", VZP_RAWCOUNT, 100, 0},
        {"Client Velopress", VZP_RAWCOUNT, 100, 0},
        {"Client Formweave", VZP_RAWCOUNT, 100, 0},
        {"Chiamate remote/sec", VZP_RAWCOUNT, 100, 0},
        {"Chiamate remote in corso", VZP_RAWCOUNT, 100, 0},
        {"Tempo trascorso/chiamata", VZP_RAWCOUNT, 100, 0},
        {"Tempo di attesa/chiamata", VZP_RAWCOUNT, 100, 0},
        {"Tempo IO/chiamata", VZP_RAWCOUNT, 100, 0},
    };
    vzp_object object = VZP_OBJECT_INIT;
    object.id = 4;
    object.name = "Quorvane Server 11";
    object.detail_level = 100;
    object.default_counter = 0;
    object.max_instance_name_length = 64;
    object.counters = kCounters;
    object.counter_count = kCounterCount;
    return object;
}

}  // namespace qvsim
