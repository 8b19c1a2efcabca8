// CPerfMon: the performance-monitor object. It holds the object map (categories
// and their counters with their perflib title indices and output templates), the
// open shared-memory blocks of the provider's chain and the layout values read
// from block 0. Its operations are implemented by the subsystem each belongs to:
// the map model here in objectmap/, the blocks and map reader in sharedmem/, the
// per-sample collection and rendering in collect/.
#pragma once
#include "objectmap/perf_structures.h"
#include "platform/platform.h"
#include "sharedmem/map_entries.h"
#include "support/growable_array.h"
#include "support/hresult.h"
#include "support/wide_string.h"

namespace vz {

// A counter of the object map: its map entry, its texts and the definition
// collection copies into perflib's buffer.
struct CounterRecord : CounterEntry {
    WString name;
    WString help;
    PERF_COUNTER_DEFINITION definitionTemplate{};
};

// A category: its map entry (noInstances 0xFFFFFFFF: one set of values, no
// named instances), its texts, its counters and the output layout.
struct CategoryRecord : CategoryEntry {
    WString name;
    WString help;
    DWORD instanceRecordSize = 0;
    PERF_OBJECT_TYPE objectTemplate{};
    DWORD counterBlockSize = 0;
    GrowableArray<CounterRecord> counters;

    bool HasInstances() const { return noInstances != 0xFFFFFFFFu; }
};

class CSharedBlock;

// Holder of an optional security descriptor; empty in this library.
class CSecurityDesc {
public:
    CSecurityDesc() = default;
    CSecurityDesc(const CSecurityDesc&) = delete;
    CSecurityDesc& operator=(const CSecurityDesc&) = delete;
    virtual ~CSecurityDesc();
    virtual void Release();
    void* descriptor = nullptr;
};

}  // namespace vz

namespace ATL {

using vz::CategoryRecord;
using vz::CounterRecord;
using vz::CSecurityDesc;
using vz::CSharedBlock;

class CPerfMon {
public:
    CPerfMon();
    CPerfMon(const CPerfMon&) = delete;
    CPerfMon& operator=(const CPerfMon&) = delete;
    virtual ~CPerfMon();
    virtual const vz::WCHAR* ApplicationName() const = 0;
    [[nodiscard]] virtual vz::HRESULT BuildObjectMap(vz::LANGID language, vz::plat::HMODULE resourceModule,
                                       vz::DWORD* firstNameResource);
    // Never called: the slot exists because the object's virtual table has it.
    virtual void SpareHook(vz::DWORD value);

    // Object map model.
    [[nodiscard]] vz::HRESULT AddCategoryRecord(vz::DWORD id, const vz::WCHAR* name, const vz::WCHAR* help,
                                  vz::DWORD detailLevel, vz::DWORD defaultCounter,
                                  bool noInstances, vz::DWORD instanceDataSize,
                                  vz::DWORD maxInstanceNameLength);
    [[nodiscard]] vz::HRESULT AddCounterRecord(vz::DWORD id, const vz::WCHAR* name, const vz::WCHAR* help,
                                 vz::DWORD detailLevel, vz::DWORD counterType,
                                 vz::DWORD maxCharacters, vz::DWORD dataOffset,
                                 vz::LONG defaultScale);
    [[nodiscard]] vz::HRESULT AddLocalizedCategory(vz::LANGID language, vz::plat::HMODULE resourceModule,
                                     vz::DWORD* firstNameResource, vz::DWORD id,
                                     vz::DWORD nameResource, vz::DWORD helpResource,
                                     vz::DWORD detailLevel, bool noInstances,
                                     vz::DWORD instanceDataSize,
                                     vz::DWORD maxInstanceNameLength,
                                     vz::DWORD defaultCounter);
    [[nodiscard]] vz::HRESULT AddLocalizedCounter(vz::LANGID language, vz::plat::HMODULE resourceModule,
                                    vz::DWORD id, vz::DWORD nameResource,
                                    vz::DWORD helpResource, vz::DWORD detailLevel,
                                    vz::DWORD counterType, vz::DWORD maxCharacters,
                                    vz::DWORD dataOffset, vz::LONG defaultScale);
    static bool LoadLocalizedString(vz::WString& target, vz::plat::HMODULE resourceModule,
                                    vz::DWORD resourceId, vz::LANGID language);
    void ClearObjectMap() noexcept;

    // Shared-memory blocks and the serialized map.
    [[nodiscard]] vz::HRESULT OpenBlocks();
    CSharedBlock* OpenNextBlock(CSharedBlock* previous);
    CSharedBlock* NextBlock(CSharedBlock* current);
    void ReleaseBlocks() noexcept;
    // `sourceLength` bounds every read: a map that does not fit fails the rebuild.
    [[nodiscard]] vz::HRESULT ReadSerializedMap(const void* source, std::size_t sourceLength);
    void PrepareOutputTemplates(CategoryRecord& category);

    // Collection.
    vz::DWORD CollectObject(const vz::WCHAR* valueName, void** data, vz::DWORD* totalBytes,
                            vz::DWORD* numObjectTypes);
    static bool IsCategoryRequested(const vz::WCHAR* valueName, vz::DWORD titleIndex);
    [[nodiscard]] vz::HRESULT LoadRegisteredMap();
    void CloseObject() noexcept;
    [[nodiscard]] vz::HRESULT RenderCategory(CategoryRecord* category, vz::BYTE** cursor, vz::DWORD capacity,
                               vz::DWORD* used);
    [[nodiscard]] vz::HRESULT RenderEmptyCounterBlock(CategoryRecord* category, vz::BYTE** cursor,
                                        vz::DWORD capacity, vz::DWORD* used,
                                        vz::PERF_OBJECT_TYPE* objectHeader,
                                        vz::PERF_COUNTER_DEFINITION* firstDefinition);
    // Inline: it runs for every instance of every sample.
    static vz::BYTE* ReserveOutput(vz::BYTE** cursor, vz::DWORD capacity, vz::DWORD* used,
                                   vz::DWORD size) {
        const vz::DWORD end = *used + size;
        if (end < *used || end < size || end > capacity) return nullptr;
        vz::BYTE* reserved = *cursor;
        *cursor += size;
        *used = end;
        return reserved;
    }

    // Counter registration: the registry copy of the map, title indices and the
    // localized texts, and the per-object registration sequences.
    [[nodiscard]] vz::HRESULT WriteRegisteredMap();
    vz::DWORD CountMapEntries() const;
    [[nodiscard]] vz::HRESULT RegisterPerfObject(const vz::WCHAR* openName, const vz::WCHAR* collectName,
                                   const vz::WCHAR* closeName, vz::plat::HMODULE module);
    [[nodiscard]] vz::HRESULT UnregisterPerfObject();
    // Title indices and the localized texts in perflib's per-language pair lists.
    [[nodiscard]] vz::HRESULT AllocateTitleIndices(vz::DWORD* firstNameIndex, vz::DWORD* firstHelpIndex);
    void AssignTitleIndices(vz::DWORD firstNameIndex, vz::DWORD firstHelpIndex);
    [[nodiscard]] vz::HRESULT InstallAllLanguageStrings(vz::plat::HMODULE module);
    [[nodiscard]] vz::HRESULT InstallResourceLanguageStrings(vz::DWORD resourceId, vz::plat::HMODULE module);
    [[nodiscard]] vz::HRESULT InstallLanguageStrings(vz::LANGID language, vz::plat::HMODULE module);
    [[nodiscard]] vz::HRESULT MergeTitlePairs(vz::plat::HKEY languageKey, const vz::WCHAR* valueName,
                                const vz::GrowableArray<vz::WString>& texts,
                                vz::DWORD extraRoom, vz::DWORD firstIndex,
                                vz::DWORD lastIndex);
    [[nodiscard]] vz::HRESULT UninstallLanguageStrings();
    [[nodiscard]] vz::HRESULT RemoveTitlePairs(vz::plat::HKEY languageKey, const vz::WCHAR* valueName,
                                 vz::DWORD lowestIndex, vz::DWORD highestIndex);
    [[nodiscard]] vz::HRESULT ReleaseTitleIndices(vz::plat::HKEY perflibKey, vz::plat::HKEY performanceKey);
    // Validated registry reads and the multi-string write; sizes in characters,
    // results are Win32 codes. A null buffer asks for the size only.
    [[nodiscard]] static vz::LONG ReadStringValue(vz::plat::HKEY key, const vz::WCHAR* name,
                                    vz::WCHAR* buffer, vz::DWORD* size);
    [[nodiscard]] static vz::LONG ReadMultiStringValue(vz::plat::HKEY key, const vz::WCHAR* name,
                                         vz::WCHAR* buffer, vz::DWORD* size);
    [[nodiscard]] static vz::LONG WriteMultiStringValue(vz::plat::HKEY key, const vz::WCHAR* name,
                                          const vz::WCHAR* buffer);

    vz::GrowableArray<CategoryRecord> categories;
    vz::GrowableArray<CSharedBlock*> blocks;
    vz::plat::HANDLE optionalHandle = nullptr;  // never set: part of the object's shape only
    vz::DWORD allocationGranularity = 0;
    vz::DWORD instanceAreaOffset = 0;
    vz::DWORD mapSize = 0;
    CSecurityDesc securityDescriptor;
};

}  // namespace ATL
