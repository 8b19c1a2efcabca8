// CPerfMon lifetime and the object map model: adding categories and counters,
// and clearing the map.
#include "objectmap/perfmon.h"

#include <new>
#include <utility>

namespace ATL {

CPerfMon::CPerfMon() = default;

// Close's work, so that no view, handle or record outlives the monitor.
CPerfMon::~CPerfMon() { CloseObject(); }

vz::HRESULT CPerfMon::BuildObjectMap(vz::LANGID, vz::plat::HMODULE, vz::DWORD*) {
    return vz::S_OK;
}

void CPerfMon::SpareHook(vz::DWORD) {}

vz::HRESULT CPerfMon::AddCategoryRecord(vz::DWORD id, const vz::WCHAR* name,
                                        const vz::WCHAR* help, vz::DWORD detailLevel,
                                        vz::DWORD defaultCounter, bool noInstances,
                                        vz::DWORD instanceDataSize,
                                        vz::DWORD maxInstanceNameLength) {
    try {
        vz::WString nameText(name);
        vz::WString helpText(help);
        if (!categories.Add()) return vz::E_OUTOFMEMORY;
        CategoryRecord& category = categories[categories.GetCount() - 1];
        category.id = id;
        category.name = std::move(nameText);
        category.help = std::move(helpText);
        category.detailLevel = detailLevel;
        category.defaultCounter = defaultCounter;
        category.noInstances = noInstances ? 0xFFFFFFFFu : 0u;
        category.instanceDataSize = instanceDataSize;
        category.maxInstanceNameLength = maxInstanceNameLength;
        category.instanceRecordSize = instanceDataSize + 2 * maxInstanceNameLength;
        category.nameTitleIndex = 0;
        category.helpTitleIndex = 0;
        return vz::S_OK;
    } catch (const std::bad_alloc&) {
        return vz::E_OUTOFMEMORY;
    }
}

// A counter added before any category raises CAtlException(E_INVALIDARG) from
// the index of the last category; the callers report it.
vz::HRESULT CPerfMon::AddCounterRecord(vz::DWORD id, const vz::WCHAR* name,
                                       const vz::WCHAR* help, vz::DWORD detailLevel,
                                       vz::DWORD counterType, vz::DWORD maxCharacters,
                                       vz::DWORD dataOffset, vz::LONG defaultScale) {
    CounterRecord counter;
    try {
        counter.name = vz::WString(name);
        counter.help = vz::WString(help);
    } catch (const std::bad_alloc&) {
        return vz::E_OUTOFMEMORY;
    }
    counter.id = id;
    counter.detailLevel = detailLevel;
    counter.counterType = counterType;
    counter.defaultScale = defaultScale;
    counter.maxCharacters = maxCharacters;
    counter.dataOffset = dataOffset;

    CategoryRecord& category = categories[categories.GetCount() - 1];
    if (!category.counters.Add(std::move(counter))) return vz::E_OUTOFMEMORY;
    if (maxCharacters > 0) category.instanceRecordSize += 2 * maxCharacters;
    return vz::S_OK;
}

void CPerfMon::ClearObjectMap() noexcept { categories.RemoveAll(); }

}  // namespace ATL
