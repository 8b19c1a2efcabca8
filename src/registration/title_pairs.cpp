// Merging the object's texts into one perflib pair list and taking them out
// again. Each list is read once and written once; the merge builds the new list
// in one buffer sized in advance, the removal compacts the list where it was read.
#include "objectmap/perfmon.h"
#include "registration/pair_list.h"
#include "registration/registry_access.h"

namespace ATL {

using namespace vz;

namespace {

// Reads a whole pair list into `buffer`; `count` receives its characters. No
// memory gives ERROR_OUTOFMEMORY, whose HRESULT is E_OUTOFMEMORY.
LONG ReadPairList(plat::HKEY key, const WCHAR* valueName, WideBuffer* buffer, DWORD* count) {
    DWORD size = 0;
    LONG error = CPerfMon::ReadMultiStringValue(key, valueName, nullptr, &size);
    if (error != ERROR_SUCCESS) return error;
    // A list of fewer than two characters is refused by the read below.
    if (!buffer->Allocate(size == 0 ? 1 : size)) return ERROR_OUTOFMEMORY;
    *count = size;
    return CPerfMon::ReadMultiStringValue(key, valueName, buffer->Get(), count);
}

}  // namespace

HRESULT CPerfMon::MergeTitlePairs(plat::HKEY languageKey, const WCHAR* valueName,
                                  const GrowableArray<WString>& texts, DWORD extraRoom,
                                  DWORD firstIndex, DWORD lastIndex) {
    try {
        WideBuffer old;
        DWORD oldCount = 0;
        LONG error = ReadPairList(languageKey, valueName, &old, &oldCount);
        if (error != ERROR_SUCCESS) return HResultFromWin32(error);

        std::size_t capacity = static_cast<std::size_t>(oldCount) + extraRoom;
        WideBuffer merged;
        if (!merged.Allocate(capacity)) return E_OUTOFMEMORY;
        std::size_t written = MergePairList(old.Get(), oldCount, texts.GetData(), texts.GetCount(),
                                            firstIndex, lastIndex, merged.Get(), capacity);
        if (written == 0) return E_FAIL;
        return HResultFromWin32(WriteMultiStringValue(languageKey, valueName, merged.Get()));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CPerfMon::RemoveTitlePairs(plat::HKEY languageKey, const WCHAR* valueName,
                                   DWORD lowestIndex, DWORD highestIndex) {
    try {
        WideBuffer list;
        DWORD count = 0;
        LONG error = ReadPairList(languageKey, valueName, &list, &count);
        if (error != ERROR_SUCCESS) return HResultFromWin32(error);
        RemovePairRange(list.Get(), count, lowestIndex, highestIndex);
        return HResultFromWin32(WriteMultiStringValue(languageKey, valueName, list.Get()));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace ATL
