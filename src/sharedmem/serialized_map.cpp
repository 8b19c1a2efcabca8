// Rebuilding the object map from a serialized map (block 0 of the provider's
// chain, or the registry value "Map").
#include <new>

#include "objectmap/perfmon.h"
#include "sharedmem/byte_layout.h"
#include "sharedmem/counter_layout.h"
#include "support/atl_exception.h"

namespace ATL {
namespace {

// Every read is checked against the source length; a map whose entries, names
// or counter layout do not fit is refused with E_FAIL rather than read in part.
class MapReader {
public:
    MapReader(CPerfMon& monitor, const vz::BYTE* source, std::size_t length)
        : monitor_(monitor), source_(source), length_(length) {}

    vz::HRESULT Read() {
        if (source_ == nullptr || length_ < vz::kMapHeaderSize) return vz::E_FAIL;
        const vz::DWORD mapSize = vz::LoadWord(source_);
        const vz::DWORD entryCount = vz::LoadWord(source_ + 4);
        if (mapSize > length_) return vz::E_FAIL;
        const vz::ULONGLONG entriesEnd =
            vz::kMapHeaderSize + vz::kMapEntrySize * static_cast<vz::ULONGLONG>(entryCount);
        if (entriesEnd > length_) return vz::E_FAIL;
        // Names are present only when the map is longer than its entries.
        hasNames_ = mapSize > entriesEnd;
        nameCursor_ = entriesEnd;
        nameLimit_ = mapSize;

        for (vz::DWORD i = 0; i < entryCount; ++i) {
            const vz::BYTE* entry =
                source_ + vz::kMapHeaderSize + vz::kMapEntrySize * static_cast<std::size_t>(i);
            vz::WString name;
            if (hasNames_ && !NextName(&name)) return vz::E_FAIL;
            vz::HRESULT hr = vz::LoadWord(entry) != 0 ? AddCategory(entry, name)
                                                       : AddCounter(entry, name);
            if (vz::Failed(hr)) return hr;
        }
        for (CategoryRecord& category : monitor_.categories) {
            if (vz::CounterBlockExtent(category) > 0xFFFFFFFFu) return vz::E_FAIL;
            monitor_.PrepareOutputTemplates(category);
        }
        return vz::S_OK;
    }

private:
    static vz::DWORD Word(const vz::BYTE* entry, int index) {
        return vz::LoadWord(entry + 4 * index);
    }

    bool NextName(vz::WString* name) {
        if (nameCursor_ + 4 > nameLimit_) return false;
        const vz::ULONGLONG units = vz::LoadWord(source_ + nameCursor_);
        const vz::ULONGLONG textStart = nameCursor_ + 4;
        if (textStart + 2 * units > nameLimit_) return false;
        if (units != 0)
            *name = vz::WString(reinterpret_cast<const vz::WCHAR*>(source_ + textStart),
                                static_cast<std::size_t>(units));
        nameCursor_ = textStart + ((2 * units + 3) & ~static_cast<vz::ULONGLONG>(3));
        return true;
    }

    vz::HRESULT AddCategory(const vz::BYTE* entry, const vz::WString& name) {
        vz::HRESULT hr = monitor_.AddCategoryRecord(
            Word(entry, 1), name.c_str(), nullptr, Word(entry, 2), Word(entry, 3),
            Word(entry, 4) != 0, Word(entry, 5), Word(entry, 6));
        if (vz::Failed(hr)) return hr;
        CategoryRecord& category = monitor_.categories[monitor_.categories.GetCount() - 1];
        category.nameTitleIndex = Word(entry, 7);
        category.helpTitleIndex = Word(entry, 8);
        return vz::S_OK;
    }

    // A counter entry before any category raises CAtlException from AddCounterRecord.
    vz::HRESULT AddCounter(const vz::BYTE* entry, const vz::WString& name) {
        vz::HRESULT hr = monitor_.AddCounterRecord(
            Word(entry, 1), name.c_str(), nullptr, Word(entry, 2), Word(entry, 3),
            Word(entry, 4), Word(entry, 5), static_cast<vz::LONG>(Word(entry, 6)));
        if (vz::Failed(hr)) return hr;
        CategoryRecord& category = monitor_.categories[monitor_.categories.GetCount() - 1];
        CounterRecord& counter = category.counters[category.counters.GetCount() - 1];
        counter.nameTitleIndex = Word(entry, 7);
        counter.helpTitleIndex = Word(entry, 8);
        return vz::S_OK;
    }

    CPerfMon& monitor_;
    const vz::BYTE* source_;
    vz::ULONGLONG length_;
    bool hasNames_ = false;
    vz::ULONGLONG nameCursor_ = 0;
    vz::ULONGLONG nameLimit_ = 0;
};

}  // namespace

vz::HRESULT CPerfMon::ReadSerializedMap(const void* source, std::size_t sourceLength) {
    ClearObjectMap();
    vz::HRESULT hr;
    try {
        hr = MapReader(*this, static_cast<const vz::BYTE*>(source), sourceLength).Read();
    } catch (const CAtlException&) {
        hr = vz::E_OUTOFMEMORY;
    } catch (const std::bad_alloc&) {
        hr = vz::E_OUTOFMEMORY;
    }
    // Every failure leaves the map empty, never half-read.
    if (vz::Failed(hr)) ClearObjectMap();
    return hr;
}

}  // namespace ATL
