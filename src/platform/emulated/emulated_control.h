// Controls of the emulated platform, for tests, tools and benchmarks on Linux.
// Nothing in the library itself uses this header.
#pragma once
#include <cstddef>
#include <string>

#include "platform/platform.h"

namespace vz {
namespace emu {

// Registry contents. Paths are full key paths such as
// "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft". Import and export use the text of
// regedit's "Windows Registry Editor Version 5.00" format (UTF-8 here).
void ResetRegistry();
bool ImportRegText(const std::string& text, std::string* error = nullptr);
// Exports the key and everything below it, keys and values sorted, so two
// exports of equal trees are equal byte for byte. Empty when the key is missing.
std::string ExportRegText(const std::string& keyPath);
bool KeyExists(const std::string& keyPath);

// When the environment variable VUDOZID_REGISTRY names a file, that file is
// the registry (see registry_store.cpp). These read any registry file into the
// tree (all of it or nothing; the error says the line and why) and write the
// tree to one, as the shared file is read and written.
bool LoadRegistryFile(const std::string& path, std::string* error = nullptr);
bool SaveRegistryFile(const std::string& path);

// The registry file the Linux tools share when nothing names another:
// $XDG_STATE_HOME/vudozid/registry.reg, else ~/.local/state/vudozid/registry.reg;
// empty when neither XDG_STATE_HOME nor HOME is set.
std::string DefaultRegistryFile();

// Fault injection: the n-th following call (1 = the next) of the named platform
// function ("RegOpenKeyExW", "RegSetValueExW", ..., or "*" for any registry
// call) fails with `error` and changes nothing.
void FailCall(const std::string& function, std::size_t nth, LONG error);
void ClearFaults();
// Registry calls made since the last ResetCallCounts, and the functions called
// (the first 4096 of them), in order.
std::size_t RegistryCallCount();
std::string RegistryCallLog();  // one function name per line
void ResetCallCounts();
// Registry handles currently open (predefined roots excluded).
std::size_t OpenKeyCount();

// Environment of the process as the library sees it.
void SetThreadLocaleValue(LCID locale);
void SetSystemDefaultLangIDValue(LANGID language);
void SetAllocationGranularityValue(DWORD granularity);  // default 65536
// Overrides what GetModuleFileNameW reports for the library's module (empty
// string: back to the real path of the loaded file).
void SetModuleFileName(const std::u16string& path);
// Makes QueryPerformanceCounter/Frequency fail (true) or work (false).
void SetTimerFails(bool fails);
// Open shared-memory mappings and views (leak checks). Counts what the reader
// side opened (OpenFileMappingW, MapViewOfFileEx), not the writers' objects.
std::size_t OpenMappingCount();
// Reader views whose shared-memory object shrank under them: they read as
// zeros from the first page past the object's new end (instead of SIGBUS).
std::size_t BrokenViewCount();

// The POSIX shared-memory object that stands for the named file mapping `name`
// (for example "Global\\ATLPERF_Quorvane Server ITA_000"): "/vudozid." followed
// by the lower-case hex digits of the name's UTF-8 bytes. When the environment
// variable VUDOZID_SHM_NAMESPACE is set, "/vudozid.<value>." is used instead,
// so that programs running side by side (parallel tests) keep apart.
// An empty string when the name does not fit kMaxObjectName.
std::string SharedMemoryObjectName(const std::u16string& name);
// The same into `out` without allocating; false when it does not fit.
constexpr std::size_t kMaxObjectName = 256;  // NAME_MAX and its terminator
bool FormatSharedMemoryObjectName(const char16_t* name, char* out, std::size_t size);
// The Win32 error code that stands for an errno value of a POSIX call.
LONG ErrorFromErrno(int error);
// Removes a shared-memory object left behind, for example by a crashed writer.
bool RemoveSharedMemory(const std::u16string& name);

}  // namespace emu
}  // namespace vz
