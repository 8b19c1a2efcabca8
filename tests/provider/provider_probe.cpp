// The provider DLL under Windows (Wine), driven by tests/e2e/run-wine-tests.sh:
//
//   provider_probe values SECONDS   publishes "whole" (a 32-bit and two 64-bit
//       counters) for the application "Quorvane Server ITA"; for SECONDS two
//       threads add 1 to counter 0 while one of them rewrites counters 1 and 2
//       with values whose two halves are equal; then prints "adds N" and
//       publishes the final values 4 s more.
//   provider_probe squat            a section or claim mutex that another
//       account owns is refused with VZP_ERROR_NOT_OWNER, a block 0 that a
//       reader keeps after its publisher closed is reused; prints one line per case, exit status 0 when
//       every case went as it should.
#include <windows.h>

#include <sddl.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vudozid_provider.h"

namespace {

int PublishValues(int seconds) {
    const char* application = "Quorvane Server ITA";
    static const vzp_counter counters[3] = {{"calls", VZP_RAWCOUNT, 100, 0},
                                            {"bytes", 0x00010100u, 100, 0},
                                            {"balance", 0x00010100u, 100, 0}};
    vzp_object object = VZP_OBJECT_INIT;
    object.id = 4;
    object.name = "Quorvane Server 11";
    object.detail_level = 100;
    object.max_instance_name_length = 64;
    object.counters = counters;
    object.counter_count = 3;
    vzp_registered_indices(application, &object.first_name_index, &object.first_help_index);
    vzp_publisher* publisher = nullptr;
    vzp_instance whole = 0;
    vzp_status status = vzp_open(application, &object, &publisher);
    if (status == VZP_OK) status = vzp_add_instance(publisher, "whole", &whole);
    if (status != VZP_OK) {
        std::fprintf(stderr, "provider_probe: %s\n", vzp_status_message(status));
        return 1;
    }
    std::printf("provider_probe: publishing\n");
    std::fflush(stdout);
    // Windows threads: the mingw runtime here has no std::thread.
    struct Adder {
        vzp_publisher* publisher;
        vzp_instance whole;
        bool rewrite;
        std::atomic<bool>* stop;
        long adds = 0, failures = 0;
        static DWORD WINAPI Run(void* self) {
            Adder& a = *static_cast<Adder*>(self);
            for (std::uint64_t k = 1; !a.stop->load(std::memory_order_relaxed); ++k, ++a.adds) {
                const std::uint64_t equalHalves = (k & 0xFFFFFFFFu) * 0x100000001ULL;
                if (vzp_add(a.publisher, a.whole, 0, 1) != VZP_OK ||
                    (a.rewrite && (vzp_set_value(a.publisher, a.whole, 1, equalHalves) != VZP_OK ||
                                   vzp_set_value(a.publisher, a.whole, 2, ~equalHalves) != VZP_OK)))
                    ++a.failures;
            }
            return 0;
        }
    };
    std::atomic<bool> stop{false};
    Adder adders[2] = {{publisher, whole, true, &stop}, {publisher, whole, false, &stop}};
    HANDLE threads[2];
    for (int t = 0; t < 2; ++t) threads[t] = CreateThread(nullptr, 0, Adder::Run, &adders[t], 0, nullptr);
    Sleep(static_cast<DWORD>(seconds) * 1000);
    stop = true;
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    const long adds = adders[0].adds + adders[1].adds;
    const long failures = adders[0].failures + adders[1].failures;
    std::printf("adds %lu failures %ld\n", static_cast<unsigned long>(adds) & 0xFFFFFFFFu, failures);
    std::fflush(stdout);
    Sleep(4000);
    vzp_close(publisher);
    return failures == 0 ? 0 : 1;
}

// A section or mutex made with the descriptor `sddl`; null on failure.
HANDLE MakeObject(bool section, const wchar_t* name, const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (sddl != nullptr &&
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr))
        return nullptr;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    SECURITY_ATTRIBUTES* used = descriptor != nullptr ? &attributes : nullptr;
    HANDLE object = section ? CreateFileMappingW(INVALID_HANDLE_VALUE, used, PAGE_READWRITE, 0,
                                                 65536, name)
                            : CreateMutexW(used, FALSE, name);
    if (descriptor != nullptr) LocalFree(descriptor);
    return object;
}

int Squat() {
    vzp_object object = VZP_OBJECT_INIT;
    static const vzp_counter counter = {"calls", VZP_RAWCOUNT, 100, 0};
    object.id = 4;
    object.name = "Probe";
    object.max_instance_name_length = 16;
    object.counters = &counter;
    object.counter_count = 1;
    // Owned by SYSTEM, writable by everyone: not this account's.
    const wchar_t* foreign = L"O:SYD:(A;;GA;;;WD)";
    const struct {
        const char* what;
        const char* application;
        bool section;
        const wchar_t* name;
        const wchar_t* sddl;
        vzp_status want;
    } cases[] = {
        {"a block 0 that SYSTEM owns", "Probe Squat", true, L"Global\\ATLPERF_Probe Squat_000",
         foreign, VZP_ERROR_NOT_OWNER},
        {"a claim that SYSTEM owns", "Probe Claim", false, L"Global\\ATLPERF_Probe Claim_publisher",
         foreign, VZP_ERROR_NOT_OWNER},
    };
    int failed = 0;
    for (const auto& c : cases) {
        HANDLE squatter = MakeObject(c.section, c.name, c.sddl);
        vzp_publisher* publisher = nullptr;
        const vzp_status status =
            squatter == nullptr ? -1 : vzp_open(c.application, &object, &publisher);
        std::printf("%s %s: %s\n", status == c.want ? "ok" : "FAILED", c.what,
                    status < 0 ? "could not make the object" : vzp_status_message(status));
        failed += status != c.want;
        vzp_close(publisher);
        if (squatter != nullptr) CloseHandle(squatter);
    }
    // A publisher of this account that ended while a reader holds its block 0:
    // the next one reuses it.
    vzp_publisher* earlier = nullptr;
    vzp_status status = vzp_open("Probe Own", &object, &earlier);
    HANDLE reader = OpenFileMappingW(FILE_MAP_READ, FALSE, L"Global\\ATLPERF_Probe Own_000");
    vzp_close(earlier);
    vzp_publisher* next = nullptr;
    if (status == VZP_OK) status = reader == nullptr ? -1 : vzp_open("Probe Own", &object, &next);
    std::printf("%s a block 0 this account left: %s\n", status == VZP_OK ? "ok" : "FAILED",
                status < 0 ? "no reader handle" : vzp_status_message(status));
    failed += status != VZP_OK;
    vzp_close(next);
    if (reader != nullptr) CloseHandle(reader);
    return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "values") == 0) return PublishValues(std::atoi(argv[2]));
    if (argc == 2 && std::strcmp(argv[1], "squat") == 0) return Squat();
    std::fprintf(stderr, "usage: provider_probe values SECONDS | squat\n");
    return 2;
}
