// Merging the object's texts into one perflib pair list and taking them out
// again. Each list is read once and written once; the merge builds the new list
// in one buffer sized in advance, the removal compacts the list where it was read.
#include <new>

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

// Reads a pair list, lets `edit` make the list to write from it (null: the
// edit failed), and writes that back. Running out of memory is E_OUTOFMEMORY.
template <typename Edit>
HRESULT RewritePairList(plat::HKEY key, const WCHAR* valueName, Edit edit) {
    try {
        WideBuffer list;
        DWORD count = 0;
        const LONG error = ReadPairList(key, valueName, &list, &count);
        if (error != ERROR_SUCCESS) return HResultFromWin32(error);
        const WCHAR* result = edit(list.Get(), count);
        if (result == nullptr) return E_FAIL;
        return HResultFromWin32(CPerfMon::WriteMultiStringValue(key, valueName, result));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace

HRESULT CPerfMon::MergeTitlePairs(plat::HKEY languageKey, const WCHAR* valueName,
                                  const GrowableArray<WString>& texts, DWORD extraRoom,
                                  DWORD firstIndex, DWORD lastIndex) {
    WideBuffer merged;
    return RewritePairList(languageKey, valueName, [&](WCHAR* old, DWORD oldCount) {
        const std::size_t capacity = static_cast<std::size_t>(oldCount) + extraRoom;
        if (!merged.Allocate(capacity)) throw std::bad_alloc();
        const std::size_t written = MergePairList(old, oldCount, texts.GetData(), texts.GetCount(),
                                                  firstIndex, lastIndex, merged.Get(), capacity);
        return written == 0 ? nullptr : static_cast<const WCHAR*>(merged.Get());
    });
}

HRESULT CPerfMon::RemoveTitlePairs(plat::HKEY languageKey, const WCHAR* valueName,
                                   DWORD lowestIndex, DWORD highestIndex) {
    return RewritePairList(languageKey, valueName, [&](WCHAR* list, DWORD count) {
        RemovePairRange(list, count, lowestIndex, highestIndex);
        return static_cast<const WCHAR*>(list);
    });
}

}  // namespace ATL
