// The database server's statistics object: one category with sixteen counters
// whose names and help texts come from the library's Italian string table.
#pragma once
#include "objectmap/perfmon.h"

namespace vz {

class PerfMon_ITA : public ATL::CPerfMon {
public:
    const WCHAR* ApplicationName() const override;
    [[nodiscard]] HRESULT BuildObjectMap(LANGID language, plat::HMODULE resourceModule,
                           DWORD* firstNameResource) override;
};

}  // namespace vz
