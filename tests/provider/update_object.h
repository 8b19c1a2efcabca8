// The object the update-path tests publish, on Linux and under Wine: a 32-bit
// counter that threads add to and two 64-bit counters rewritten whole.
#pragma once
#include "vudozid_provider.h"

inline vzp_object UpdateObject() {
    static const vzp_counter counters[3] = {{"calls", VZP_RAWCOUNT, 100, 0},
                                            {"bytes", VZP_RAWCOUNT | VZP_COUNTER_SIZE_64, 100, 0},
                                            {"balance", VZP_RAWCOUNT | VZP_COUNTER_SIZE_64, 100, 0}};
    vzp_object object = VZP_OBJECT_INIT;
    object.id = 4;
    object.name = "Quorvane Server 11";
    object.detail_level = 100;
    object.max_instance_name_length = 64;
    object.counters = counters;
    object.counter_count = 3;
    return object;
}
