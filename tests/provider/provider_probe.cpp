// The provider DLL under Windows (Wine), driven by tests/e2e/run-wine-tests.sh:
//   provider_probe values SECONDS   publishes "whole" of the update object for
//       "Quorvane Server ITA": for SECONDS two threads add 1 to counter 0, one
//       of them also rewrites the 64-bit counters with equal halves; then prints
//       "adds N failures F" and keeps the final values published 4 s more.
//   provider_probe squat            sections and claim mutexes that SYSTEM owns
//       are refused, a block 0 a reader keeps after its publisher closed is
//       reused; one line per case, exit status 0 when all went as they should.
#include <windows.h>

#include <sddl.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "update_object.h"

namespace {

// One of two threads on "whole" (Windows threads: this mingw runtime has no std::thread).
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

int PublishValues(int seconds) {
    const char* application = "Quorvane Server ITA";
    vzp_object object = UpdateObject();
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

// A section or mutex owned by SYSTEM and writable by everyone: not this account's.
HANDLE Squat(bool section, const wchar_t* name) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:SYD:(A;;GA;;;WD)", SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return nullptr;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    HANDLE object = section ? CreateFileMappingW(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE,
                                                 0, 65536, name)
                            : CreateMutexW(&attributes, FALSE, name);
    LocalFree(descriptor);
    return object;
}

int SquatChecks() {
    const vzp_object object = UpdateObject();
    const struct {
        const char* what;
        bool section;
        const wchar_t* name;
    } cases[] = {
        {"a block 0 that SYSTEM owns", true, L"Global\\ATLPERF_Probe Squat_000"},
        {"a claim that SYSTEM owns", false, L"Global\\ATLPERF_Probe Squat_publisher"},
    };
    int failed = 0;
    for (const auto& c : cases) {  // each squatter goes with its last handle
        HANDLE squatter = Squat(c.section, c.name);
        vzp_publisher* publisher = nullptr;
        const vzp_status status =
            squatter == nullptr ? -1 : vzp_open("Probe Squat", &object, &publisher);
        std::printf("%s %s: %s\n", status == VZP_ERROR_NOT_OWNER ? "ok" : "FAILED", c.what,
                    status < 0 ? "could not make the object" : vzp_status_message(status));
        failed += status != VZP_ERROR_NOT_OWNER;
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
    if (argc == 2 && std::strcmp(argv[1], "squat") == 0) return SquatChecks();
    std::fprintf(stderr, "usage: provider_probe values SECONDS | squat\n");
    return 2;
}
