// Helpers shared by the fuzz targets.
#pragma once
#include <cstdint>
#include <cstring>

#include "objectmap/perfmon.h"

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

}  // namespace fuzz
}  // namespace vz
