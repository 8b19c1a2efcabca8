// Taking the object's texts out of every perflib language its language list
// names. The recorded ranges stay so that the next registration can reuse them.
#include "objectmap/perfmon.h"
#include "registration/registry_access.h"

namespace ATL {

using namespace vz;

HRESULT CPerfMon::UninstallLanguageStrings() {
    try {
        CKeyHandle performanceKey;
        LONG error = performanceKey.Open(plat::HKeyLocalMachine(),
                                         PerformanceKeyPath(ApplicationName()).c_str());
        if (error == ERROR_FILE_NOT_FOUND) return S_OK;  // nothing was registered
        if (error != ERROR_SUCCESS) return HResultFromWin32(error);

        TitleRanges ranges;
        error = ReadTitleRanges(performanceKey.Get(), &ranges);
        if (error != ERROR_SUCCESS) return HResultFromWin32(error);

        DWORD size = 0;
        error = ReadStringValue(performanceKey.Get(), u"Languages", nullptr, &size);
        if (error != ERROR_SUCCESS) return HResultFromWin32(error);
        WideBuffer list;
        if (size == 0xFFFFFFFFu || !list.Allocate(static_cast<std::size_t>(size) + 1)) {
            return E_OUTOFMEMORY;
        }
        size += 1;  // room for the empty string when the value holds no bytes
        error = ReadStringValue(performanceKey.Get(), u"Languages", list.Get(), &size);
        if (error != ERROR_SUCCESS) return HResultFromWin32(error);

        // Codes are the runs of non-blank characters; the read ends the list with NUL.
        const WCHAR* text = list.Get();
        std::size_t pos = 0;
        while (text[pos] != 0) {
            if (text[pos] == u' ') {
                ++pos;
                continue;
            }
            std::size_t start = pos;
            while (text[pos] != 0 && text[pos] != u' ') ++pos;

            CKeyHandle languageKey;
            error = languageKey.Open(plat::HKeyLocalMachine(),
                                     PerflibLanguageKeyPath(text + start, pos - start).c_str());
            if (error != ERROR_SUCCESS) return HResultFromWin32(error);
            HRESULT hr = RemoveTitlePairs(languageKey.Get(), u"Counter", ranges.firstCounter,
                                          ranges.lastCounter);
            if (Failed(hr)) return hr;
            hr = RemoveTitlePairs(languageKey.Get(), u"Help", ranges.firstHelp, ranges.lastHelp);
            if (Failed(hr)) return hr;
        }

        const WCHAR empty[1] = {0};
        return HResultFromWin32(
            plat::RegSetValueExW(performanceKey.Get(), u"Languages", 0, plat::REG_SZ,
                                 reinterpret_cast<const BYTE*>(empty), sizeof(empty)));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace ATL
