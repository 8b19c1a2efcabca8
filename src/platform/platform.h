// The library's one window onto the operating system. Everything above this
// layer works with these calls only; `win32/` implements them over the real
// API and `emulated/` in memory (and on POSIX shared memory) for Linux builds.
// Names, arguments and results follow the Win32 calls they stand for. Many of
// the constants below share their names with windows.h macros: a file that
// needs windows.h includes it after this header.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "support/types.h"

namespace vz {
namespace plat {

struct OpaqueKey;
struct OpaqueHandle;
struct OpaqueModule;
struct OpaqueResource;
using HKEY = OpaqueKey*;
using HANDLE = OpaqueHandle*;
using HMODULE = OpaqueModule*;
using HRSRC = OpaqueResource*;
using HGLOBAL = void*;
using REGSAM = DWORD;

inline HKEY PredefinedKey(std::uintptr_t value) { return reinterpret_cast<HKEY>(value); }
inline HKEY HKeyClassesRoot() { return PredefinedKey(0x80000000u); }
inline HKEY HKeyCurrentUser() { return PredefinedKey(0x80000001u); }
inline HKEY HKeyLocalMachine() { return PredefinedKey(0x80000002u); }
inline HKEY HKeyUsers() { return PredefinedKey(0x80000003u); }
inline HKEY HKeyPerformanceData() { return PredefinedKey(0x80000004u); }
inline HKEY HKeyCurrentConfig() { return PredefinedKey(0x80000005u); }

// Registry access rights and flags.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr REGSAM KEY_WOW64_RES = 0x0300;
constexpr REGSAM DELETE_ACCESS = 0x00010000;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Registry value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

LONG RegOpenKeyExW(HKEY key, const WCHAR* subKey, DWORD options, REGSAM sam, HKEY* result);
LONG RegCreateKeyExW(HKEY key, const WCHAR* subKey, DWORD reserved, const WCHAR* className,
                     DWORD options, REGSAM sam, const void* security, HKEY* result,
                     DWORD* disposition);
LONG RegQueryValueExW(HKEY key, const WCHAR* name, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize);
LONG RegSetValueExW(HKEY key, const WCHAR* name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize);
LONG RegDeleteValueW(HKEY key, const WCHAR* name);
LONG RegDeleteKeyW(HKEY key, const WCHAR* subKey);
LONG RegEnumKeyExW(HKEY key, DWORD index, WCHAR* name, DWORD* nameLength, DWORD* reserved,
                   WCHAR* className, DWORD* classLength, void* lastWriteTime);
// Only the sub-key count and the longest sub-key name are asked for here.
LONG RegQueryInfoKeyW(HKEY key, DWORD* subKeys, DWORD* maxSubKeyLength, DWORD* values);
LONG RegCloseKey(HKEY key);

// RegDeleteKeyExW as Advapi32.dll exports it, or null where it does not.
using RegDeleteKeyExWFn = LONG (*)(HKEY key, const WCHAR* subKey, REGSAM sam, DWORD reserved);
RegDeleteKeyExWFn LookUpRegDeleteKeyExW();

// Kernel objects and file mapping.
constexpr DWORD FILE_MAP_READ = 4;
constexpr DWORD FILE_MAP_WRITE = 2;
HANDLE OpenFileMappingW(DWORD access, BOOL inherit, const WCHAR* name);
void* MapViewOfFileEx(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow,
                      std::size_t size, void* baseAddress);
BOOL UnmapViewOfFile(const void* view);
BOOL CloseHandle(HANDLE handle);
DWORD GetAllocationGranularity();  // GetSystemInfo().dwAllocationGranularity
// Whether a live publisher holds the claim `name` (see ClaimPublisherName in
// shared_memory_writer.h). A claim ends with its holder's process, however it
// ends, while a dead publisher's blocks live on as long as a reader holds
// them, so readers ask this to tell a live server from a dead one.
// Takes nothing that a publisher could find busy.
bool PublisherClaimHeld(const WCHAR* name);
DWORD GetLastError();
void SetLastError(DWORD error);

// High-resolution timer.
BOOL QueryPerformanceFrequency(LONGLONG* frequency);
BOOL QueryPerformanceCounter(LONGLONG* counter);

// Resources and modules. Integer resource names and types are passed as
// MakeIntResource(n); RT_STRING = 6.
inline const WCHAR* MakeIntResource(std::uintptr_t id) {
    return reinterpret_cast<const WCHAR*>(id);
}
inline bool IsIntResource(const WCHAR* name) {
    return (reinterpret_cast<std::uintptr_t>(name) >> 16) == 0;
}
constexpr std::uintptr_t RT_STRING = 6;
constexpr DWORD LOAD_LIBRARY_AS_DATAFILE = 0x00000002;
constexpr std::size_t MAX_PATH = 260;

HRSRC FindResourceExW(HMODULE module, const WCHAR* type, const WCHAR* name, LANGID language);
HRSRC FindResourceW(HMODULE module, const WCHAR* name, const WCHAR* type);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
const void* LockResource(HGLOBAL data);
DWORD SizeofResource(HMODULE module, HRSRC resource);
using EnumResLangProc = BOOL (*)(HMODULE module, const WCHAR* type, const WCHAR* name,
                                 LANGID language, std::intptr_t param);
BOOL EnumResourceLanguagesW(HMODULE module, const WCHAR* type, const WCHAR* name,
                            EnumResLangProc callback, std::intptr_t param);
HMODULE LoadLibraryExW(const WCHAR* path, HANDLE file, DWORD flags);
BOOL FreeLibrary(HMODULE module);
DWORD GetModuleFileNameW(HMODULE module, WCHAR* buffer, DWORD size);
HMODULE GetModuleHandleW(const WCHAR* name);
void* GetProcAddress(HMODULE module, const char* name);
// The module that holds this library's code and resources.
HMODULE ThisModule();

// Locale and text.
constexpr DWORD CP_THREAD_ACP = 3;
LCID GetThreadLocale();
BOOL SetThreadLocale(LCID locale);
LANGID GetSystemDefaultLangID();
int MultiByteToWideChar(DWORD codePage, DWORD flags, const char* text, int length,
                        WCHAR* buffer, int bufferLength);
const WCHAR* CharNextW(const WCHAR* text);
int lstrcmpiW(const WCHAR* a, const WCHAR* b);
int lstrlenW(const WCHAR* text);

// COM task memory and number conversion.
void* CoTaskMemAlloc(std::size_t size);
void* CoTaskMemRealloc(void* block, std::size_t size);
void CoTaskMemFree(void* block);
HRESULT VarUI4FromStr(const WCHAR* text, LCID locale, ULONG flags, ULONG* result);
// CoCreateInstance of the global interface table; the result is an IUnknown-style
// object pointer released with ReleaseInterface.
HRESULT CreateGlobalInterfaceTable(void** result);
void ReleaseInterface(void* object);

// Critical sections and interlocked counting.
struct CriticalSectionStorage {
    alignas(8) unsigned char bytes[64];
};
// Returns false when the lock cannot be created.
bool InitializeCriticalSection(CriticalSectionStorage* section);
void EnterCriticalSection(CriticalSectionStorage* section);
void LeaveCriticalSection(CriticalSectionStorage* section);
void DeleteCriticalSection(CriticalSectionStorage* section);
LONG AtomicIncrement(volatile LONG* value);
LONG AtomicDecrement(volatile LONG* value);

// The programs' registry. On Linux the emulated registry lives in a `.reg`
// file that processes share: `file` when not empty, else the file the
// environment variable VUDOZID_REGISTRY names, else
// $XDG_STATE_HOME/vudozid/registry.reg or ~/.local/state/vudozid/registry.reg
// (its folder created) becomes the registry of this process and of every
// library it loads. Returns that file, empty when there is none. On Windows
// the real registry is used and this does nothing and returns an empty string.
// Call it before the first registry function.
std::string UseRegistryFile(const std::string& file);

// What is wrong with the registry file of this process, as "FILE: line N:
// reason", or empty when it is sound (or absent, an empty registry). While it
// is damaged every registry call fails with ERROR_BADDB (1009) and the file
// is never written, so tools refuse to run rather than lose its keys. Always
// empty on Windows.
std::string RegistryFileProblem();

// Holds the registry for a sequence of changes: while this process holds it,
// other processes' changes wait, so the sequence is one step for them (they
// may still read between its changes). Nests; every copy of the platform
// layer in this process (a loaded library's too) shares the hold. Returns
// false when the registry cannot be held. Does nothing on Windows.
bool BeginRegistryTransaction();
void EndRegistryTransaction();

class RegistryTransaction {
public:
    RegistryTransaction() : held_(BeginRegistryTransaction()) {}
    ~RegistryTransaction() {
        if (held_) EndRegistryTransaction();
    }
    RegistryTransaction(const RegistryTransaction&) = delete;
    RegistryTransaction& operator=(const RegistryTransaction&) = delete;
    bool Held() const { return held_; }

private:
    bool held_;
};

}  // namespace plat
}  // namespace vz
