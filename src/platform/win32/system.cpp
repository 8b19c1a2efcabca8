// Timer, locale, text, COM task memory and number conversion, the global
// interface table, critical sections and interlocked counting.
#include "platform/win32/native.h"

#include <objbase.h>
#include <oleauto.h>

namespace vz {
namespace plat {

using native::Text;

BOOL QueryPerformanceFrequency(LONGLONG* frequency) {
    LARGE_INTEGER value;
    if (!::QueryPerformanceFrequency(&value)) return FALSE;
    *frequency = value.QuadPart;
    return TRUE;
}

BOOL QueryPerformanceCounter(LONGLONG* counter) {
    LARGE_INTEGER value;
    if (!::QueryPerformanceCounter(&value)) return FALSE;
    *counter = value.QuadPart;
    return TRUE;
}

LCID GetThreadLocale() { return ::GetThreadLocale(); }
BOOL SetThreadLocale(LCID locale) { return ::SetThreadLocale(locale); }
LANGID GetSystemDefaultLangID() { return ::GetSystemDefaultLangID(); }

// Windows has the real registry: there is no file to choose.
std::string UseRegistryFile(const std::string&) { return {}; }
std::string RegistryFileProblem() { return {}; }
bool BeginRegistryTransaction() { return true; }
void EndRegistryTransaction() {}

int MultiByteToWideChar(DWORD codePage, DWORD flags, const char* text, int length,
                        WCHAR* buffer, int bufferLength) {
    return ::MultiByteToWideChar(codePage, flags, text, length, Text(buffer), bufferLength);
}

const WCHAR* CharNextW(const WCHAR* text) { return Text(::CharNextW(Text(text))); }
int lstrcmpiW(const WCHAR* a, const WCHAR* b) { return ::lstrcmpiW(Text(a), Text(b)); }
int lstrlenW(const WCHAR* text) { return ::lstrlenW(Text(text)); }

void* CoTaskMemAlloc(std::size_t size) { return ::CoTaskMemAlloc(size); }
void* CoTaskMemRealloc(void* block, std::size_t size) { return ::CoTaskMemRealloc(block, size); }
void CoTaskMemFree(void* block) { ::CoTaskMemFree(block); }

HRESULT VarUI4FromStr(const WCHAR* text, LCID locale, ULONG flags, ULONG* result) {
    ::ULONG value = 0;
    HRESULT hr = ::VarUI4FromStr(const_cast<wchar_t*>(Text(text)), locale, flags, &value);
    if (SUCCEEDED(hr)) *result = value;
    return hr;
}

HRESULT CreateGlobalInterfaceTable(void** result) {
    // {00000323-0000-0000-C000-000000000046} and {00000146-0000-0000-C000-000000000046}
    static const CLSID kStdGlobalInterfaceTable = {
        0x00000323, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    static const IID kGlobalInterfaceTable = {
        0x00000146, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    return ::CoCreateInstance(kStdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                              kGlobalInterfaceTable, result);
}

void ReleaseInterface(void* object) {
    if (object != nullptr) static_cast<IUnknown*>(object)->Release();
}

static_assert(sizeof(CRITICAL_SECTION) <= sizeof(CriticalSectionStorage),
              "critical section storage too small");

bool InitializeCriticalSection(CriticalSectionStorage* section) {
    return ::InitializeCriticalSectionAndSpinCount(
               reinterpret_cast<CRITICAL_SECTION*>(section->bytes), 0) != FALSE;
}

void EnterCriticalSection(CriticalSectionStorage* section) {
    ::EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(section->bytes));
}

void LeaveCriticalSection(CriticalSectionStorage* section) {
    ::LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(section->bytes));
}

void DeleteCriticalSection(CriticalSectionStorage* section) {
    ::DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(section->bytes));
}

LONG AtomicIncrement(volatile LONG* value) {
    return ::InterlockedIncrement(reinterpret_cast<volatile ::LONG*>(value));
}

LONG AtomicDecrement(volatile LONG* value) {
    return ::InterlockedDecrement(reinterpret_cast<volatile ::LONG*>(value));
}

}  // namespace plat
}  // namespace vz
