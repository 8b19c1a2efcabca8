// The registration sequence of one performance object (its performance key,
// title indices and texts) and its removal, and the walks over the module's
// monitor list that the DLL's registration exports run through their hooks.
// The driver deletes the performance key with the module's DeleteKeyTree.
#include "registration/registration_driver.h"

#include "collect/perf_monitor_list.h"
#include "module/key_handle.h"
#include "objectmap/perfmon.h"
#include "registration/registry_access.h"

namespace vz {

namespace {

constexpr LANGID kUsEnglish = 1033;

}  // namespace

HRESULT RegisterAllPerfObjects(plat::HMODULE module) {
    for (ATL::CPerfMon* monitor : PerfMonitorList) {
        if (monitor == nullptr) continue;
        HRESULT hr = monitor->RegisterPerfObject(u"_OpenPerfMon@4", u"_CollectPerfMon@16",
                                                 u"_ClosePerfMon@0", module);
        if (Failed(hr)) return hr;
        hr = monitor->InstallAllLanguageStrings(module);  // S_FALSE: no perflib language key
        if (Failed(hr)) return hr;
    }
    return S_OK;
}

HRESULT UnregisterAllPerfObjects() {
    for (ATL::CPerfMon* monitor : PerfMonitorList) {
        if (monitor == nullptr) continue;
        HRESULT hr = monitor->UnregisterPerfObject();
        if (Failed(hr)) return hr;
    }
    return S_OK;
}

}  // namespace vz

namespace ATL {

using namespace vz;

HRESULT CPerfMon::RegisterPerfObject(const WCHAR* openName, const WCHAR* collectName,
                                     const WCHAR* closeName, plat::HMODULE module) {
    try {
        const LANGID language = static_cast<LANGID>(plat::GetThreadLocale() & 0xFFFFu);
        HRESULT hr = BuildObjectMap(language, module, nullptr);
        if (Failed(hr)) hr = BuildObjectMap(kUsEnglish, module, nullptr);
        if (Failed(hr)) return hr;

        WString performancePath = PerformanceKeyPath(ApplicationName());

        // An earlier registration's texts; nothing to remove is no failure.
        static_cast<void>(UninstallLanguageStrings());

        DWORD firstName = 0;
        DWORD firstHelp = 0;
        hr = AllocateTitleIndices(&firstName, &firstHelp);
        if (Failed(hr)) return hr;
        AssignTitleIndices(firstName, firstHelp);

        CKeyHandle performanceKey;
        LONG error = performanceKey.Create(plat::HKeyLocalMachine(), performancePath.c_str());
        if (error != ERROR_SUCCESS) return HResultFromWin32(error);

        WCHAR path[plat::MAX_PATH];
        DWORD length = plat::GetModuleFileNameW(module, path, plat::MAX_PATH);
        if (length == 0) {
            hr = HResultFromLastError();
            return Failed(hr) ? hr : E_FAIL;
        }
        if (length >= plat::MAX_PATH) return HResultFromWin32(ERROR_INSUFFICIENT_BUFFER);

        const struct {
            const WCHAR* name;
            const WCHAR* text;
        } values[] = {
            {u"Library", path},       {u"Open", openName},      {u"Collect", collectName},
            {u"Close", closeName},    {u"Languages", u""},
        };
        for (const auto& value : values) {
            error = WriteStringValue(performanceKey.Get(), value.name, value.text);
            if (error != ERROR_SUCCESS) return HResultFromWin32(error);
        }

        hr = WriteRegisteredMap();
        if (Failed(hr)) return hr;

        plat::RegDeleteValueW(performanceKey.Get(), u"Disable Performance Counters");
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CPerfMon::UnregisterPerfObject() {
    try {
        HRESULT hr = UninstallLanguageStrings();
        if (Failed(hr)) return hr;

        CKeyHandle perflibKey;
        LONG error = perflibKey.Open(plat::HKeyLocalMachine(), kPerflibKeyPath);
        if (error != ERROR_SUCCESS) return HResultFromWin32(error);

        {
            CKeyHandle performanceKey;
            error = performanceKey.Open(plat::HKeyLocalMachine(),
                                        PerformanceKeyPath(ApplicationName()).c_str());
            if (error == ERROR_FILE_NOT_FOUND) return S_OK;  // never registered
            if (error != ERROR_SUCCESS) return HResultFromWin32(error);
            hr = ReleaseTitleIndices(perflibKey.Get(), performanceKey.Get());
            if (Failed(hr)) return hr;
        }

        // The service key stays; only its "Performance" subtree goes.
        CKeyHandle serviceKey;
        error = serviceKey.Open(plat::HKeyLocalMachine(), ServiceKeyPath(ApplicationName()).c_str());
        if (error != ERROR_SUCCESS) return HResultFromWin32(error);
        error = DeleteKeyTree(serviceKey, u"Performance");
        if (error != ERROR_SUCCESS) return HResultFromWin32(error);
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace ATL
