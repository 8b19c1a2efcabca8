// Installing the object's names and help texts into perflib, one language at a
// time, and recording each installed language in the object's language list.
#include <new>

#include "objectmap/perfmon.h"
#include "registration/registry_access.h"
#include "support/checked_copy.h"

namespace ATL {

using namespace vz;

namespace {

constexpr DWORD kRoomPerText = 7;  // an index of up to five digits and two NULs

BOOL AppendLanguage(plat::HMODULE, const WCHAR*, const WCHAR*, LANGID language,
                    std::intptr_t param) {
    auto* languages = reinterpret_cast<GrowableArray<LANGID>*>(param);
    return languages->Add(language) ? 1 : 0;
}

// Opens the perflib language key of `language`; `code` receives its code.
LONG OpenLanguageKey(LANGID language, CKeyHandle* key, WCHAR code[4]) {
    FormatLanguageCode(language, code);
    WString path = PerflibLanguageKeyPath(code, 3);
    return key->Open(plat::HKeyLocalMachine(), path.c_str());
}

// The texts of the map in map order, names or help texts, and the room that
// their pairs need beyond the old list.
void CollectTexts(const GrowableArray<CategoryRecord>& categories, bool help,
                  GrowableArray<WString>* texts, DWORD* room) {
    auto add = [&](const WString& text) {
        if (!texts->Add(text)) throw std::bad_alloc();
        *room += static_cast<DWORD>(text.Length()) + kRoomPerText;
    };
    *room = 0;
    for (const CategoryRecord& category : categories) {
        add(help ? category.help : category.name);
        for (const CounterRecord& counter : category.counters) add(help ? counter.help : counter.name);
    }
}

bool ContainsEntry(const WCHAR* text, std::size_t length, const WCHAR* entry, std::size_t entryLength) {
    for (std::size_t pos = 0; pos + entryLength <= length; ++pos) {
        std::size_t k = 0;
        while (k < entryLength && text[pos + k] == entry[k]) ++k;
        if (k == entryLength) return true;
    }
    return false;
}

}  // namespace

HRESULT CPerfMon::InstallAllLanguageStrings(plat::HMODULE module) {
    DWORD nameResource = 0;
    HRESULT hr = BuildObjectMap(0, module, &nameResource);
    if (Failed(hr)) return hr;
    if (nameResource == 0) return InstallLanguageStrings(0, module);
    return InstallResourceLanguageStrings(nameResource, module);
}

HRESULT CPerfMon::InstallResourceLanguageStrings(DWORD resourceId, plat::HMODULE module) {
    GrowableArray<LANGID> languages;
    const DWORD block = (resourceId >> 4) + 1;
    if (!plat::EnumResourceLanguagesW(module, plat::MakeIntResource(plat::RT_STRING),
                                      plat::MakeIntResource(block), &AppendLanguage,
                                      reinterpret_cast<std::intptr_t>(&languages))) {
        return HResultFromLastError();
    }
    bool anyInstalled = false;
    for (LANGID language : languages) {
        HRESULT hr = InstallLanguageStrings(language, module);
        if (Failed(hr)) return hr;
        if (hr == S_OK) anyInstalled = true;
    }
    return anyInstalled ? S_OK : S_FALSE;
}

HRESULT CPerfMon::InstallLanguageStrings(LANGID language, plat::HMODULE module) {
    try {
        if (language == 0) language = static_cast<LANGID>(plat::GetThreadLocale() & 0xFFFFu);
        CKeyHandle languageKey;
        WCHAR code[4];
        LONG error = OpenLanguageKey(language, &languageKey, code);
        if (error == ERROR_FILE_NOT_FOUND) {
            language = plat::GetSystemDefaultLangID();
            error = OpenLanguageKey(language, &languageKey, code);
            if (error == ERROR_FILE_NOT_FOUND) return S_FALSE;
        }
        if (error != ERROR_SUCCESS) return HResultFromWin32(error);

        HRESULT hr = BuildObjectMap(language, module, nullptr);
        if (Failed(hr)) return hr;

        CKeyHandle performanceKey;
        error = performanceKey.Open(plat::HKeyLocalMachine(),
                                    PerformanceKeyPath(ApplicationName()).c_str());
        if (error != ERROR_SUCCESS) return HResultFromWin32(error);

        // The list gets room for one more entry of four characters.
        DWORD size = 0;
        error = ReadStringValue(performanceKey.Get(), u"Languages", nullptr, &size);
        if (error != ERROR_SUCCESS) return HResultFromWin32(error);
        WideBuffer list;
        if (size > 0xFFFFFFFFu - 4 || !list.Allocate(static_cast<std::size_t>(size) + 4)) {
            return E_OUTOFMEMORY;
        }
        const std::size_t capacity = static_cast<std::size_t>(size) + 4;
        size += 4;
        error = ReadStringValue(performanceKey.Get(), u"Languages", list.Get(), &size);
        if (error != ERROR_SUCCESS) return HResultFromWin32(error);
        const std::size_t listLength = size == 0 ? 0 : size - 1;  // size <= capacity

        const WCHAR entry[5] = {code[0], code[1], code[2], u' ', 0};
        if (ContainsEntry(list.Get(), listLength, entry, 4)) return S_OK;

        GrowableArray<WString> names;
        GrowableArray<WString> helps;
        DWORD nameRoom = 0;
        DWORD helpRoom = 0;
        CollectTexts(categories, false, &names, &nameRoom);
        CollectTexts(categories, true, &helps, &helpRoom);

        TitleRanges ranges;
        error = ReadTitleRanges(performanceKey.Get(), &ranges);
        if (error != ERROR_SUCCESS) return HResultFromWin32(error);

        hr = MergeTitlePairs(languageKey.Get(), u"Counter", names, nameRoom, ranges.firstCounter,
                             ranges.lastCounter);
        if (Failed(hr)) return hr;
        hr = MergeTitlePairs(languageKey.Get(), u"Help", helps, helpRoom, ranges.firstHelp,
                             ranges.lastHelp);
        if (Failed(hr)) return hr;

        CheckedCopyWideString(list.Get() + listLength, capacity - listLength, entry, 4);
        error = WriteStringValue(performanceKey.Get(), u"Languages", list.Get());
        return HResultFromWin32(error);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace ATL
