/* The smallest server that publishes statistics: one object with two counters
   and two instances, values changing every 100 ms for as many seconds as the
   first argument says (default 10).

   Build against the installed SDK:
     cc minimal.c $(pkg-config --cflags --libs vudozid-provider) -o minimal
   or with CMake: find_package(VudoZidProvider) and link VudoZid::provider. */
#ifndef _WIN32
#define _POSIX_C_SOURCE 200809L /* nanosleep */
#endif
#include <stdio.h>
#include <stdlib.h>

#include "vudozid_provider.h"

#ifdef _WIN32
#include <windows.h>
static void Pause100ms(void) { Sleep(100); }
#else
#include <time.h>
static void Pause100ms(void) {
    struct timespec pause = {0, 100 * 1000 * 1000};
    nanosleep(&pause, NULL);
}
#endif

static int Failed(const char *what, vzp_status status) {
    fprintf(stderr, "minimal: %s: %s\n", what, vzp_status_message(status));
    return 1;
}

int main(int argc, char **argv) {
    const char *application = "Quorvane Server ITA";
    const int seconds = argc > 1 ? atoi(argv[1]) : 10;
    /* The library loaded must be of the header's major version, and not older. */
    const uint32_t library = vzp_version();
    printf("minimal: built with SDK %d.%d.%d, running with %u.%u.%u\n", VZP_VERSION_MAJOR,
           VZP_VERSION_MINOR, VZP_VERSION_PATCH, (unsigned)(library >> 20),
           (unsigned)((library >> 10) & 0x3FF), (unsigned)(library & 0x3FF));
    if (library >> 20 != VZP_VERSION_MAJOR || library < VZP_VERSION) {
        fprintf(stderr, "minimal: the provider library does not fit this program\n");
        return 1;
    }
    static const vzp_counter counters[2] = {
        {"Accessi alla cache %", VZP_RAWCOUNT, 100, 0},
        {"% Cache non salvata", VZP_RAWCOUNT, 100, 0},
    };
    vzp_object object = VZP_OBJECT_INIT;
    object.id = 4;
    object.name = "Quorvane Server 11";
    object.detail_level = 100;
    object.max_instance_name_length = 64;
    object.counters = counters;
    object.counter_count = 2;
    /* Registered title indices, when the counters are registered. */
    vzp_registered_indices(application, &object.first_name_index, &object.first_help_index);

    vzp_publisher *publisher = NULL;
    vzp_status status = vzp_open(application, &object, &publisher);
    if (status != VZP_OK) return Failed("open", status);
    vzp_instance main_db = 0, archive_db = 0;
    if ((status = vzp_add_instance(publisher, "MainDb", &main_db)) != VZP_OK ||
        (status = vzp_add_instance(publisher, "ArchiveDb", &archive_db)) != VZP_OK) {
        vzp_close(publisher);
        return Failed("add instance", status);
    }
    printf("minimal: publishing MainDb and ArchiveDb for %d s\n", seconds);
    fflush(stdout);
    for (int step = 0; step < seconds * 10; ++step) {
        const uint64_t main_values[2] = {90 + step % 10, step % 7};
        const uint64_t archive_values[2] = {50 + step % 20, 1};
        if ((status = vzp_set_all(publisher, main_db, main_values, 2)) != VZP_OK ||
            (status = vzp_set_all(publisher, archive_db, archive_values, 2)) != VZP_OK)
            break;
        Pause100ms();
    }
    vzp_close(publisher);
    return status == VZP_OK ? 0 : Failed("set values", status);
}
