#include "module/reg_object.h"

#include "module/registry_script.h"
#include "platform/platform.h"
#include "support/allocation.h"

namespace ATL {

using namespace vz;

namespace {

// Resource texts up to this many bytes are converted without a heap buffer.
constexpr DWORD kInlineTextBytes = 511;

// The converted text: a fixed area for small resources, the heap otherwise.
class ScriptText {
public:
    ~ScriptText() {
        if (text_ != inline_) FreeMemory(text_);
    }
    bool Reserve(DWORD units) {
        if (units <= kInlineTextBytes + 1) return true;
        text_ = static_cast<WCHAR*>(AllocateRaw(static_cast<std::size_t>(units) * sizeof(WCHAR)));
        return text_ != nullptr;
    }
    WCHAR* Get() { return text_; }

private:
    WCHAR inline_[kInlineTextBytes + 1];
    WCHAR* text_ = inline_;
};

class DataFile {
public:
    explicit DataFile(plat::HMODULE module) : module_(module) {}
    ~DataFile() {
        if (module_ != nullptr) plat::FreeLibrary(module_);
    }
    plat::HMODULE Get() const { return module_; }

private:
    plat::HMODULE module_;
};

}  // namespace

HRESULT CRegObject::QueryInterface(const GUID&, void**) { return E_NOTIMPL; }

HRESULT CRegObject::AddVariable(const WCHAR* name, const WCHAR* value) {
    if (name == nullptr || value == nullptr) return E_INVALIDARG;
    return variables_.Add(name, value) ? S_OK : E_OUTOFMEMORY;
}

HRESULT CRegObject::ClearVariables() {
    variables_.Clear();
    return S_OK;
}

CRegObject::~CRegObject() { variables_.Clear(); }

HRESULT CRegObject::RegisterFromResource(const WCHAR* modulePath, unsigned resourceId,
                                         const WCHAR* resourceType) {
    return RunScriptResource(modulePath, resourceId, resourceType, true);
}

HRESULT CRegObject::UnregisterFromResource(const WCHAR* modulePath, unsigned resourceId,
                                           const WCHAR* resourceType) {
    return RunScriptResource(modulePath, resourceId, resourceType, false);
}

HRESULT CRegObject::RunScriptResource(const WCHAR* modulePath, unsigned resourceId,
                                      const WCHAR* resourceType, bool registerMode) {
    // The resource comes from the file the path names, not from a loaded image.
    DataFile module(plat::LoadLibraryExW(modulePath, nullptr, plat::LOAD_LIBRARY_AS_DATAFILE));
    if (module.Get() == nullptr) return HResultFromLastError();
    plat::HRSRC resource =
        plat::FindResourceW(module.Get(), plat::MakeIntResource(resourceId), resourceType);
    if (resource == nullptr) return HResultFromLastError();
    plat::HGLOBAL data = plat::LoadResource(module.Get(), resource);
    if (data == nullptr) return HResultFromLastError();
    const DWORD size = plat::SizeofResource(module.Get(), resource);
    const char* bytes = static_cast<const char*>(plat::LockResource(data));

    ScriptText text;
    if (size >= 0x7FFFFFFF || !text.Reserve(size + 1)) return E_OUTOFMEMORY;
    const int units = plat::MultiByteToWideChar(plat::CP_THREAD_ACP, 0, bytes,
                                                static_cast<int>(size), text.Get(),
                                                static_cast<int>(size));
    if (units == 0) return HResultFromLastError();
    text.Get()[units] = 0;

    CRegistryScript script(variables_);
    return script.Run(text.Get(), registerMode);
}

}  // namespace ATL
