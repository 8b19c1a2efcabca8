// The library's entry point. The C runtime has constructed the static objects
// before it is called on attach; a lock that could not be created makes the
// attach fail, and the runtime then runs the static destructors.
#ifdef _WIN32
#include "module/module_records.h"

extern "C" vz::BOOL __stdcall DllMain(void* instance, vz::DWORD reason, void* reserved) {
    if (reason == vz::DLL_PROCESS_ATTACH && instance != nullptr) {
        // The handle the loader gives is the library's own image.
        vz::ModuleResources.moduleInstance = static_cast<vz::plat::HMODULE>(instance);
        vz::ModuleResources.resourceInstance = static_cast<vz::plat::HMODULE>(instance);
    }
    return vz::AttachCheck(instance, reason, reserved);
}
#endif  // _WIN32
