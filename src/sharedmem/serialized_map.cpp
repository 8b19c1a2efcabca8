// Rebuilding the object map from a serialized map (block 0 of the provider's
// chain, or the registry value "Map").
#include <new>

#include "objectmap/perfmon.h"
#include "sharedmem/byte_layout.h"
#include "sharedmem/counter_layout.h"
#include "support/atl_exception.h"

namespace ATL {
namespace {

// Every read goes through a ByteReader over the source: the map size, N and
// the name lengths are trusted as the layout says, and only what would leave
// the source (the block's view, or the bytes of the value "Map") is refused,
// with E_FAIL, rather than read in part. The map size decides only whether
// there are names; the names are bounded by the source.
class MapReader {
public:
    MapReader(CPerfMon& monitor, const vz::BYTE* source, std::size_t length)
        : monitor_(monitor), source_(source, length) {}

    vz::HRESULT Read() {
        vz::DWORD mapSize = 0, entryCount = 0;
        if (!source_.ReadWord(&mapSize) || !source_.ReadWord(&entryCount)) return vz::E_FAIL;
        const vz::ULONGLONG entriesEnd = vz::MapEntriesEnd(entryCount);
        if (!source_.Holds(0, entriesEnd)) return vz::E_FAIL;
        // Names are present only when the map is longer than its entries.
        const bool hasNames = mapSize > entriesEnd;
        vz::ByteReader names(source_.Data(), source_.Size());
        if (!names.Seek(entriesEnd)) return vz::E_FAIL;

        for (vz::DWORD i = 0; i < entryCount; ++i) {
            const vz::BYTE* entry = source_.Data() + vz::MapEntryOffset(i);
            vz::WString name;
            if (hasNames && !NextName(names, &name)) return vz::E_FAIL;
            vz::HRESULT hr = Field(entry, vz::map_entry::kKind) != vz::counter_entry::kKindValue
                                 ? AddCategory(entry, name)
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
    // Entries lie inside the source: Read checked all N of them at once.
    static vz::DWORD Field(const vz::BYTE* entry, std::size_t offset) {
        return vz::LoadUnchecked(entry, offset);
    }

    // One whole name record (length, text and padding) must lie in the source.
    static bool NextName(vz::ByteReader& names, vz::WString* name) {
        vz::DWORD units = 0;
        const vz::BYTE* text = nullptr;
        if (!names.ReadWord(&units) ||
            !names.ReadSpan(vz::NameRecordSize(units) - vz::kNameLengthSize, &text))
            return false;
        if (units != 0)
            *name = vz::WString(reinterpret_cast<const vz::WCHAR*>(text), units);
        return true;
    }

    vz::HRESULT AddCategory(const vz::BYTE* entry, const vz::WString& name) {
        namespace field = vz::category_entry;
        vz::HRESULT hr = monitor_.AddCategoryRecord(
            Field(entry, vz::map_entry::kId), name.c_str(), nullptr,
            Field(entry, vz::map_entry::kDetailLevel), Field(entry, field::kDefaultCounter),
            Field(entry, field::kNoInstances) != 0, Field(entry, field::kInstanceDataSize),
            Field(entry, field::kMaxInstanceNameLength));
        if (vz::Failed(hr)) return hr;
        CategoryRecord& category = monitor_.categories[monitor_.categories.GetCount() - 1];
        category.nameTitleIndex = Field(entry, vz::map_entry::kNameTitleIndex);
        category.helpTitleIndex = Field(entry, vz::map_entry::kHelpTitleIndex);
        return vz::S_OK;
    }

    // A counter entry before any category raises CAtlException from AddCounterRecord.
    vz::HRESULT AddCounter(const vz::BYTE* entry, const vz::WString& name) {
        namespace field = vz::counter_entry;
        vz::HRESULT hr = monitor_.AddCounterRecord(
            Field(entry, vz::map_entry::kId), name.c_str(), nullptr,
            Field(entry, vz::map_entry::kDetailLevel), Field(entry, field::kCounterType),
            Field(entry, field::kMaxCharacters), Field(entry, field::kDataOffset),
            static_cast<vz::LONG>(Field(entry, field::kDefaultScale)));
        if (vz::Failed(hr)) return hr;
        CategoryRecord& category = monitor_.categories[monitor_.categories.GetCount() - 1];
        CounterRecord& counter = category.counters[category.counters.GetCount() - 1];
        counter.nameTitleIndex = Field(entry, vz::map_entry::kNameTitleIndex);
        counter.helpTitleIndex = Field(entry, vz::map_entry::kHelpTitleIndex);
        return vz::S_OK;
    }

    CPerfMon& monitor_;
    vz::ByteReader source_;
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
