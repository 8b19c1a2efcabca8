// Last error, timer, locale, COM task memory, the global interface table
// stand-in, critical sections and interlocked counting.
#include <time.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/emulated/emulated_control.h"
#include "support/allocation.h"
#include "support/hresult.h"

namespace vz {
namespace {

thread_local DWORD t_lastError = 0;
thread_local bool t_localeSet = false;
thread_local LCID t_locale = 0;
std::atomic<LCID> g_defaultThreadLocale{1033};
std::atomic<LANGID> g_systemLanguage{1033};
std::atomic<bool> g_timerFails{false};

// COM task memory keeps its size in front of the block, so realloc can copy.
struct alignas(16) TaskMemHeader {
    std::size_t size;
};

// A refcounted object with the IUnknown slot layout: QueryInterface, AddRef,
// Release. Nothing in the library calls more than Release.
struct DummyInterfaceTable;
struct DummyVtable {
    HRESULT (*queryInterface)(DummyInterfaceTable*, const void*, void**);
    ULONG (*addRef)(DummyInterfaceTable*);
    ULONG (*release)(DummyInterfaceTable*);
};
struct DummyInterfaceTable {
    const DummyVtable* vtable;
    std::atomic<ULONG> references;
};
HRESULT DummyQueryInterface(DummyInterfaceTable*, const void*, void** result) {
    if (result != nullptr) *result = nullptr;
    return E_NOINTERFACE;
}
ULONG DummyAddRef(DummyInterfaceTable* self) { return ++self->references; }
ULONG DummyRelease(DummyInterfaceTable* self) {
    const ULONG left = --self->references;
    if (left == 0) delete self;
    return left;
}
const DummyVtable kDummyVtable = {DummyQueryInterface, DummyAddRef, DummyRelease};

static_assert(sizeof(std::recursive_mutex) <= sizeof(plat::CriticalSectionStorage),
              "critical section storage too small");

}  // namespace

namespace plat {

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD error) { t_lastError = error; }

BOOL QueryPerformanceFrequency(LONGLONG* frequency) {
    if (g_timerFails || frequency == nullptr) return 0;
    *frequency = 10000000;
    return 1;
}

BOOL QueryPerformanceCounter(LONGLONG* counter) {
    if (g_timerFails || counter == nullptr) return 0;
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    *counter = static_cast<LONGLONG>(now.tv_sec) * 10000000 + now.tv_nsec / 100;
    return 1;
}

LCID GetThreadLocale() { return t_localeSet ? t_locale : g_defaultThreadLocale.load(); }

// The two default pseudo locales resolve to the locale they stand for, as on
// Windows: LOCALE_SYSTEM_DEFAULT (0x0800) to the system's default language,
// LOCALE_USER_DEFAULT (0x0400) to the locale threads start with.
BOOL SetThreadLocale(LCID locale) {
    if (locale == 0x0800) locale = g_systemLanguage.load();
    if (locale == 0x0400) locale = g_defaultThreadLocale.load();
    t_locale = locale;
    t_localeSet = true;
    return 1;
}

LANGID GetSystemDefaultLangID() { return g_systemLanguage; }

void* CoTaskMemAlloc(std::size_t size) {
    void* raw = AllocateRaw(sizeof(TaskMemHeader) + size);
    if (raw == nullptr) return nullptr;
    static_cast<TaskMemHeader*>(raw)->size = size;
    return static_cast<TaskMemHeader*>(raw) + 1;
}

void* CoTaskMemRealloc(void* block, std::size_t size) {
    if (block == nullptr) return CoTaskMemAlloc(size);
    if (size == 0) {
        CoTaskMemFree(block);
        return nullptr;
    }
    void* fresh = CoTaskMemAlloc(size);
    if (fresh == nullptr) return nullptr;  // the old block stays valid
    const std::size_t old = (static_cast<TaskMemHeader*>(block) - 1)->size;
    std::memcpy(fresh, block, old < size ? old : size);
    CoTaskMemFree(block);
    return fresh;
}

void CoTaskMemFree(void* block) {
    if (block != nullptr) FreeMemory(static_cast<TaskMemHeader*>(block) - 1);
}

HRESULT CreateGlobalInterfaceTable(void** result) {
    if (result == nullptr) return E_POINTER;
    *result = new (std::nothrow) DummyInterfaceTable{&kDummyVtable, {1}};
    return *result != nullptr ? S_OK : E_OUTOFMEMORY;
}

void ReleaseInterface(void* object) {
    if (object == nullptr) return;
    auto* table = static_cast<DummyInterfaceTable*>(object);
    table->vtable->release(table);
}

bool InitializeCriticalSection(CriticalSectionStorage* section) {
    new (section->bytes) std::recursive_mutex();
    return true;
}

void EnterCriticalSection(CriticalSectionStorage* section) {
    reinterpret_cast<std::recursive_mutex*>(section->bytes)->lock();
}

void LeaveCriticalSection(CriticalSectionStorage* section) {
    reinterpret_cast<std::recursive_mutex*>(section->bytes)->unlock();
}

void DeleteCriticalSection(CriticalSectionStorage* section) {
    reinterpret_cast<std::recursive_mutex*>(section->bytes)->~recursive_mutex();
}

LONG AtomicIncrement(volatile LONG* value) {
    return __atomic_add_fetch(const_cast<LONG*>(value), 1, __ATOMIC_SEQ_CST);
}

LONG AtomicDecrement(volatile LONG* value) {
    return __atomic_sub_fetch(const_cast<LONG*>(value), 1, __ATOMIC_SEQ_CST);
}

}  // namespace plat

namespace emu {

// Sets the locale of the calling thread and the one that threads start with.
void SetThreadLocaleValue(LCID locale) {
    g_defaultThreadLocale = locale;
    plat::SetThreadLocale(locale);
}

void SetSystemDefaultLangIDValue(LANGID language) { g_systemLanguage = language; }
void SetTimerFails(bool fails) { g_timerFails = fails; }

}  // namespace emu
}  // namespace vz
