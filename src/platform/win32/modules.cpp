// Modules and their resources.
#include "platform/win32/native.h"

namespace vz {
namespace plat {

using native::Module;
using native::Resource;
using native::Text;

HRSRC FindResourceExW(HMODULE module, const WCHAR* type, const WCHAR* name, LANGID language) {
    return Resource(::FindResourceExW(Module(module), Text(type), Text(name), language));
}

HRSRC FindResourceW(HMODULE module, const WCHAR* name, const WCHAR* type) {
    return Resource(::FindResourceW(Module(module), Text(name), Text(type)));
}

HGLOBAL LoadResource(HMODULE module, HRSRC resource) {
    return ::LoadResource(Module(module), Resource(resource));
}

const void* LockResource(HGLOBAL data) { return ::LockResource(data); }

DWORD SizeofResource(HMODULE module, HRSRC resource) {
    return ::SizeofResource(Module(module), Resource(resource));
}

namespace {

struct LanguageCallback {
    EnumResLangProc callback;
    std::intptr_t param;
};

BOOL CALLBACK ForwardLanguage(::HMODULE module, LPCWSTR type, LPCWSTR name, WORD language,
                              LONG_PTR param) {
    const auto* forward = reinterpret_cast<const LanguageCallback*>(param);
    return forward->callback(Module(module), Text(type), Text(name), language, forward->param);
}

}  // namespace

BOOL EnumResourceLanguagesW(HMODULE module, const WCHAR* type, const WCHAR* name,
                            EnumResLangProc callback, std::intptr_t param) {
    LanguageCallback forward = {callback, param};
    return ::EnumResourceLanguagesW(Module(module), Text(type), Text(name), &ForwardLanguage,
                                    reinterpret_cast<LONG_PTR>(&forward));
}

HMODULE LoadLibraryExW(const WCHAR* path, HANDLE file, DWORD flags) {
    return Module(::LoadLibraryExW(Text(path), native::Handle(file), flags));
}

BOOL FreeLibrary(HMODULE module) { return ::FreeLibrary(Module(module)); }

DWORD GetModuleFileNameW(HMODULE module, WCHAR* buffer, DWORD size) {
    return ::GetModuleFileNameW(Module(module), Text(buffer), size);
}

HMODULE GetModuleHandleW(const WCHAR* name) { return Module(::GetModuleHandleW(Text(name))); }

void* GetProcAddress(HMODULE module, const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(Module(module), name));
}

// The image this function's code lives in: the DLL when built as one, the
// program otherwise.
HMODULE ThisModule() {
    ::HMODULE module = nullptr;
    ::GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return Module(module);
}

}  // namespace plat
}  // namespace vz
