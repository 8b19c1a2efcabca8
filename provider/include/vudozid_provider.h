/*
 * VudoZid provider SDK: publishes a server's statistics for the VudoZid
 * performance-counter library, which perflib loads into every program that
 * reads performance data (Performance Monitor, typeperf, WMI, qvperf).
 *
 * A publisher owns the shared-memory blocks "Global\ATLPERF_<application>_NNN":
 * block 0 starts with the description of one performance object, and every
 * block holds one record per live instance with its current counter values.
 * Readers map the blocks read-only and copy each record while it changes; they
 * never wait for the publisher and the publisher never waits for them.
 *
 * Every function returns a vzp_status; VZP_OK is 0 and every failure has its
 * own code, which vzp_status_message() turns into an English sentence. A call
 * that fails changes nothing: no value is cut to fit, no name is shortened.
 *
 * Threads: every function may be called from any thread, also on the same
 * publisher at the same time. vzp_set_value(), vzp_set_all() and vzp_add()
 * take no lock and search nothing: the handle leads straight to the instance's
 * record, so threads updating different instances never wait for each other.
 * vzp_add_instance() and vzp_remove_instance() share one lock per publisher.
 * Readers in other processes take no lock. vzp_close() must not race with
 * other calls on the same publisher: after it returns the handle is gone.
 *
 * What a reader sees: each value is written with one atomic store of its full
 * size (64-bit values too, also in 32-bit programs), so a reader never sees
 * half of a value; vzp_add() is one atomic read-modify-write, so concurrent
 * adds never lose an update. A vzp_set_all() stores its values one after the
 * other: a reader may see it half applied, some values from this call and the
 * rest from the previous one.
 *
 * An update racing with the removal of its own instance: a vzp_set_value(),
 * vzp_set_all() or vzp_add() on an instance that another thread removes at
 * the same time either fails with VZP_ERROR_UNKNOWN_INSTANCE or writes its
 * values into the record the instance had. If vzp_add_instance() has handed
 * that record to a new instance meanwhile (the record freed longest ago is
 * handed out first, so this needs the updating thread to stall that long),
 * the new instance may show that call's values. Nothing else can happen: such
 * a call writes only into a record's value area, never its header or name,
 * and never outside the blocks. Finish the updates of an instance before
 * removing it to rule this out.
 *
 * One publisher per application name: while one process (or one publisher in
 * this process) publishes a name, vzp_open() of the same name fails with
 * VZP_ERROR_ALREADY_PUBLISHED and the first publisher's data stays untouched.
 * The claim dies with its process: a killed or crashed publisher never blocks
 * the next one. On Windows the claim is the named mutex
 * "Global\ATLPERF_<application>_publisher" (a mutex abandoned by a dead process
 * is free again); on Linux it is a lock on a file that the kernel drops when
 * the process ends. A publisher that restarts while a reader still holds the
 * old blocks writes into those same blocks, and removes the further blocks
 * that a killed publisher of a longer chain left, so readers never see them.
 *
 * Windows security: the blocks can be read by SYSTEM, Administrators,
 * Performance Monitor Users, Performance Log Users, interactive users and the
 * LocalService and NetworkService accounts (those that read performance data),
 * and written only by the account of the publishing process. Creating a
 * "Global\" block from a process outside session 0 needs the privilege
 * SeCreateGlobalPrivilege, which services have (LocalSystem, LocalService,
 * NetworkService) and administrators have when elevated. Without it vzp_open()
 * fails with VZP_ERROR_ACCESS_DENIED and publishes nothing: run the server as a
 * service, or grant its account "Create global objects".
 *
 * Squatted names: when a block or the publisher claim of the application
 * already exists and another account made it (on Linux: another uid owns the
 * shared-memory object, or its group or others may write it), vzp_open() and
 * vzp_add_instance() refuse with VZP_ERROR_NOT_OWNER and write nothing into
 * it. Blocks left by an earlier run of the same account are reused.
 *
 * Binary interface: the library's file name carries its major version
 * (libvudozid_provider.so.1; vudozid_provider.dll for major version 1). A
 * minor version only adds: functions, status codes, and fields at the end of
 * vzp_object or vzp_counter. Programs built against an older minor version of
 * the same major version keep working: the size fields that VZP_OBJECT_INIT
 * sets tell the library which fields the program knows. vzp_version() gives
 * the version of the library that was loaded.
 */
#ifndef VUDOZID_PROVIDER_H
#define VUDOZID_PROVIDER_H

#include <stddef.h>
#include <stdint.h>

#include "vudozid_provider_version.h" /* VZP_VERSION_MAJOR, _MINOR, _PATCH */

/* A version as one comparable number, as vzp_version() returns it. */
#define VZP_MAKE_VERSION(major, minor, patch) \
    (((uint32_t)(major) << 20) | ((uint32_t)(minor) << 10) | (uint32_t)(patch))
/* The version of this header. */
#define VZP_VERSION VZP_MAKE_VERSION(VZP_VERSION_MAJOR, VZP_VERSION_MINOR, VZP_VERSION_PATCH)

#if defined(_WIN32) && defined(VZP_BUILDING_DLL)
#define VZP_API __declspec(dllexport)
#elif defined(__GNUC__)
#define VZP_API __attribute__((visibility("default")))
#else
#define VZP_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t vzp_status;

#define VZP_OK 0
/* A null pointer, a text that is not UTF-8, or a vzp_object whose size fields
   were not set by VZP_OBJECT_INIT. */
#define VZP_ERROR_INVALID_ARGUMENT 1
/* The object description cannot be published (see vzp_object). */
#define VZP_ERROR_BAD_DESCRIPTION 2
/* Another publisher, in this or another process, publishes the application. */
#define VZP_ERROR_ALREADY_PUBLISHED 3
/* The system refused to create the blocks: see the Windows notes above. */
#define VZP_ERROR_ACCESS_DENIED 4
/* Another call into the system failed: vzp_last_system_error() tells which. */
#define VZP_ERROR_SYSTEM 5
#define VZP_ERROR_OUT_OF_MEMORY 6
#define VZP_ERROR_EMPTY_NAME 7
/* The instance name and its terminator take more UTF-16 code units than
   max_instance_name_length. */
#define VZP_ERROR_NAME_TOO_LONG 8
/* The handle is 0, was never handed out, or its instance was removed. */
#define VZP_ERROR_UNKNOWN_INSTANCE 9
/* The counter index is not below counter_count. */
#define VZP_ERROR_UNKNOWN_COUNTER 10
/* The value does not fit its counter: above 4294967295 for a 32-bit counter, or
   not 0 (or an add of anything but 0) for a counter without a value. */
#define VZP_ERROR_VALUE_TOO_LARGE 11
/* vzp_set_all() got a count other than the object's counter_count. */
#define VZP_ERROR_COUNT_MISMATCH 12
/* No further shared-memory block can be created for another instance. */
#define VZP_ERROR_NO_ROOM 13
/* The application has no registered title indices (vzp_registered_indices). */
#define VZP_ERROR_NOT_REGISTERED 14
/* A block or the publisher claim of the application exists and another
   account made it: see "Squatted names" above. */
#define VZP_ERROR_NOT_OWNER 15

/* Counter sizes, from the perflib counter type's size bits (type & 0x300). */
#define VZP_COUNTER_SIZE_MASK 0x300u
#define VZP_COUNTER_SIZE_32 0x000u   /* PERF_SIZE_DWORD: values up to 4294967295 */
#define VZP_COUNTER_SIZE_64 0x100u   /* PERF_SIZE_LARGE */
#define VZP_COUNTER_SIZE_ZERO 0x200u /* PERF_SIZE_ZERO: no value; only 0 is accepted */
/* Text counters (PERF_SIZE_VARIABLE_LEN) are not supported. */

#define VZP_RAWCOUNT 0x00010000u /* PERF_COUNTER_RAWCOUNT: a 32-bit number shown as is */

/* One counter. An array of them is read with the stride that
   vzp_object.counter_size gives, so later versions can add fields here. */
typedef struct vzp_counter {
    const char *name;      /* UTF-8, not empty */
    uint32_t counter_type; /* perflib counter type, e.g. VZP_RAWCOUNT */
    uint32_t detail_level; /* 100 novice, 200 advanced, 300 expert, 400 wizard */
    int32_t default_scale; /* power of ten for display */
} vzp_counter;

/* One performance object. The counter values of an instance follow a 20-byte
   record header in counter order, each 32-bit counter taking 4 bytes and each
   64-bit one 8 on an 8-byte boundary; the instance name follows the values.
   Start from VZP_OBJECT_INIT, which sets the two size fields. */
typedef struct vzp_object {
    uint32_t struct_size;              /* sizeof(vzp_object) */
    uint32_t counter_size;             /* sizeof(vzp_counter) */
    uint32_t id;                       /* category id in the object map */
    const char *name;                  /* UTF-8, not empty */
    uint32_t detail_level;
    uint32_t default_counter;          /* index below counter_count */
    /* Room for an instance name in UTF-16 code units, its terminator included
       (names have at most max_instance_name_length - 1 units): 2 to 1024. */
    uint32_t max_instance_name_length;
    /* Title indices that registration gave the object's name and help text;
       the counters follow in steps of 2. 0 and 0 when not registered (see
       vzp_registered_indices). */
    uint32_t first_name_index;
    uint32_t first_help_index;
    const vzp_counter *counters;
    uint32_t counter_count; /* 1 to 1024 */
} vzp_object;

/* Every field 0 but the sizes: vzp_object object = VZP_OBJECT_INIT; */
#define VZP_OBJECT_INIT {sizeof(vzp_object), sizeof(vzp_counter), 0, 0, 0, 0, 0, 0, 0, 0, 0}

typedef struct vzp_publisher vzp_publisher;
/* An instance of an open publisher; 0 is never a valid handle, and a removed
   instance's handle is never valid again. */
typedef uint64_t vzp_instance;

/* The English sentence for a status code; never null. */
VZP_API const char *vzp_status_message(vzp_status status);

/* The version of the library loaded, VZP_MAKE_VERSION(major, minor, patch);
   compare it with VZP_VERSION, the version of the header. */
VZP_API uint32_t vzp_version(void);

/* The system call that failed in the last vzp_open() or vzp_add_instance() on
   this thread (behind VZP_ERROR_SYSTEM, VZP_ERROR_ACCESS_DENIED or
   VZP_ERROR_NO_ROOM): returns the system's code for it (errno on Linux,
   GetLastError() on Windows), 0 when no system call failed, and writes "call:
   the system's sentence" in UTF-8 into text (size bytes with the terminator,
   cut to fit; text may be null when size is 0). */
VZP_API uint32_t vzp_last_system_error(char *text, size_t size);

/* The title indices that registration wrote for the application ("First
   Counter" and "First Help" of its performance key), for vzp_object.
   VZP_ERROR_NOT_REGISTERED when the application is not registered. */
VZP_API vzp_status vzp_registered_indices(const char *application, uint32_t *first_name_index,
                                          uint32_t *first_help_index);

/* Claims the application name (UTF-8, at most 200 UTF-16 code units, no
   backslash) and creates block 0 with the object's description. The object is
   copied: it and its texts may be freed after the call. */
VZP_API vzp_status vzp_open(const char *application, const vzp_object *object,
                            vzp_publisher **publisher);

/* Frees every record first, so that a reader still holding the blocks sees no
   instances, then removes the blocks and releases the name. A null publisher
   is VZP_OK. */
VZP_API vzp_status vzp_close(vzp_publisher *publisher);

/* A new instance with every value 0. The name is UTF-8 of 1 to
   max_instance_name_length - 1 UTF-16 code units; names need not be unique. */
VZP_API vzp_status vzp_add_instance(vzp_publisher *publisher, const char *name,
                                    vzp_instance *instance);
VZP_API vzp_status vzp_remove_instance(vzp_publisher *publisher, vzp_instance instance);

/* One counter's value, by index in the object's counter order. No lock. */
VZP_API vzp_status vzp_set_value(vzp_publisher *publisher, vzp_instance instance,
                                 uint32_t counter, uint64_t value);
/* All counters at once, values[i] for counter i; count must be counter_count.
   Either every value is written or, when one does not fit, none. No lock; a
   reader may see the values half written (see "What a reader sees"). */
VZP_API vzp_status vzp_set_all(vzp_publisher *publisher, vzp_instance instance,
                               const uint64_t *values, uint32_t count);
/* Adds delta to one counter atomically: modulo 2^32 for a 32-bit counter and
   2^64 for a 64-bit one, so a negative delta counts down (a 32-bit counter at
   0 plus -1 is 4294967295). Concurrent adds never lose an update. No lock. */
VZP_API vzp_status vzp_add(vzp_publisher *publisher, vzp_instance instance, uint32_t counter,
                           int64_t delta);

#ifdef __cplusplus
}
#endif

#endif /* VUDOZID_PROVIDER_H */
