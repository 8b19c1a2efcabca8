// Adding categories and counters whose names and help texts come from the
// module's string-table resources.
#include <cstring>
#include <new>

#include "objectmap/perfmon.h"
#include "support/atl_exception.h"

namespace ATL {
namespace {

// Loads the name and help texts of a category or counter in `language` and
// passes them to add: E_FAIL when one is missing, E_OUTOFMEMORY when memory
// runs out on the way.
template <typename Add>
vz::HRESULT WithLocalizedTexts(vz::LANGID language, vz::plat::HMODULE resourceModule,
                               vz::DWORD nameResource, vz::DWORD helpResource, Add add) {
    try {
        vz::WString name;
        vz::WString help;
        if (!CPerfMon::LoadLocalizedString(name, resourceModule, nameResource, language) ||
            !CPerfMon::LoadLocalizedString(help, resourceModule, helpResource, language))
            return vz::E_FAIL;
        return add(name.c_str(), help.c_str());
    } catch (const CAtlException&) {
        return vz::E_OUTOFMEMORY;
    } catch (const std::bad_alloc&) {
        return vz::E_OUTOFMEMORY;
    }
}

}  // namespace

bool CPerfMon::LoadLocalizedString(vz::WString& target, vz::plat::HMODULE resourceModule,
                                   vz::DWORD resourceId, vz::LANGID language) {
    namespace plat = vz::plat;
    // String tables hold 16 entries per block; block n + 1 holds ids 16n..16n+15.
    const std::uintptr_t blockName = (resourceId >> 4) + 1;
    const vz::DWORD entry = resourceId & 15;
    plat::HRSRC resource = plat::FindResourceExW(resourceModule, plat::MakeIntResource(plat::RT_STRING),
                                                 plat::MakeIntResource(blockName), language);
    if (resource == nullptr) return false;
    plat::HGLOBAL loaded = plat::LoadResource(resourceModule, resource);
    if (loaded == nullptr) return false;
    const auto* data = static_cast<const vz::BYTE*>(plat::LockResource(loaded));
    if (data == nullptr) return false;
    const std::size_t size = plat::SizeofResource(resourceModule, resource);

    // Each entry: a 16-bit character count, then that many UTF-16 units.
    std::size_t position = 0;
    for (vz::DWORD skipped = 0; skipped < entry && position + 2 <= size; ++skipped) {
        vz::WORD length = 0;
        std::memcpy(&length, data + position, 2);
        position += 2 + 2 * static_cast<std::size_t>(length);
    }
    if (position + 2 > size) return false;
    vz::WORD length = 0;
    std::memcpy(&length, data + position, 2);
    if (length == 0) return false;  // an empty entry counts as missing
    const std::size_t bytes = 2 * static_cast<std::size_t>(length);
    if (bytes > size - position - 2) return false;  // entry runs past the resource
    // WString copies with memmove, so the units need no alignment here.
    target = vz::WString(reinterpret_cast<const vz::WCHAR*>(data + position + 2), length);
    return true;
}

vz::HRESULT CPerfMon::AddLocalizedCategory(vz::LANGID language, vz::plat::HMODULE resourceModule,
                                           vz::DWORD* firstNameResource, vz::DWORD id,
                                           vz::DWORD nameResource, vz::DWORD helpResource,
                                           vz::DWORD detailLevel, bool noInstances,
                                           vz::DWORD instanceDataSize,
                                           vz::DWORD maxInstanceNameLength,
                                           vz::DWORD defaultCounter) {
    if (firstNameResource != nullptr) *firstNameResource = nameResource;
    return WithLocalizedTexts(language, resourceModule, nameResource, helpResource,
                              [&](const vz::WCHAR* name, const vz::WCHAR* help) {
                                  return AddCategoryRecord(id, name, help, detailLevel,
                                                           defaultCounter, noInstances,
                                                           instanceDataSize, maxInstanceNameLength);
                              });
}

vz::HRESULT CPerfMon::AddLocalizedCounter(vz::LANGID language, vz::plat::HMODULE resourceModule,
                                          vz::DWORD id, vz::DWORD nameResource,
                                          vz::DWORD helpResource, vz::DWORD detailLevel,
                                          vz::DWORD counterType, vz::DWORD maxCharacters,
                                          vz::DWORD dataOffset, vz::LONG defaultScale) {
    return WithLocalizedTexts(language, resourceModule, nameResource, helpResource,
                              [&](const vz::WCHAR* name, const vz::WCHAR* help) {
                                  return AddCounterRecord(id, name, help, detailLevel, counterType,
                                                          maxCharacters, dataOffset, defaultScale);
                              });
}

}  // namespace ATL
