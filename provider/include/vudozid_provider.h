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
 * publisher at the same time; calls on one publisher are serialized by a lock
 * inside it (readers in other processes take no lock). vzp_close() must not
 * race with other calls on the same publisher: after it returns the handle is
 * gone.
 *
 * One publisher per application name: while one process (or one publisher in
 * this process) publishes a name, vzp_open() of the same name fails with
 * VZP_ERROR_ALREADY_PUBLISHED and the first publisher's data stays untouched.
 * The claim dies with its process: a killed or crashed publisher never blocks
 * the next one. On Windows the claim is the named mutex
 * "Global\ATLPERF_<application>_publisher" (a mutex abandoned by a dead process
 * is free again); on Linux it is a lock on a file that the kernel drops when
 * the process ends. A publisher that restarts while a reader still holds the
 * old blocks writes into those same blocks.
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
 */
#ifndef VUDOZID_PROVIDER_H
#define VUDOZID_PROVIDER_H

#include <stdint.h>

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
/* A null pointer, or a text that is not UTF-8. */
#define VZP_ERROR_INVALID_ARGUMENT 1
/* The object description cannot be published (see vzp_object). */
#define VZP_ERROR_BAD_DESCRIPTION 2
/* Another publisher, in this or another process, publishes the application. */
#define VZP_ERROR_ALREADY_PUBLISHED 3
/* The system refused to create the blocks: see the Windows notes above. */
#define VZP_ERROR_ACCESS_DENIED 4
/* Another call into the system failed. */
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
   not 0 for a counter without a value. */
#define VZP_ERROR_VALUE_TOO_LARGE 11
/* vzp_set_all() got a count other than the object's counter_count. */
#define VZP_ERROR_COUNT_MISMATCH 12
/* No further shared-memory block can be created for another instance. */
#define VZP_ERROR_NO_ROOM 13
/* The application has no registered title indices (vzp_registered_indices). */
#define VZP_ERROR_NOT_REGISTERED 14

/* Counter sizes, from the perflib counter type's size bits (type & 0x300). */
#define VZP_COUNTER_SIZE_MASK 0x300u
#define VZP_COUNTER_SIZE_32 0x000u   /* PERF_SIZE_DWORD: values up to 4294967295 */
#define VZP_COUNTER_SIZE_64 0x100u   /* PERF_SIZE_LARGE */
#define VZP_COUNTER_SIZE_ZERO 0x200u /* PERF_SIZE_ZERO: no value; only 0 is accepted */
/* Text counters (PERF_SIZE_VARIABLE_LEN) are not supported. */

#define VZP_RAWCOUNT 0x00010000u /* PERF_COUNTER_RAWCOUNT: a 32-bit number shown as is */

typedef struct vzp_counter {
    const char *name;      /* UTF-8, not empty */
    uint32_t counter_type; /* perflib counter type, e.g. VZP_RAWCOUNT */
    uint32_t detail_level; /* 100 novice, 200 advanced, 300 expert, 400 wizard */
    int32_t default_scale; /* power of ten for display */
} vzp_counter;

/* One performance object. The counter values of an instance follow a 20-byte
   record header in counter order, each 32-bit counter taking 4 bytes and each
   64-bit one 8; the instance name follows the values. */
typedef struct vzp_object {
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

typedef struct vzp_publisher vzp_publisher;
/* An instance of an open publisher; 0 is never a valid handle, and a removed
   instance's handle is never valid again. */
typedef uint64_t vzp_instance;

/* The English sentence for a status code; never null. */
VZP_API const char *vzp_status_message(vzp_status status);

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

/* One counter's value, by index in the object's counter order. */
VZP_API vzp_status vzp_set_value(vzp_publisher *publisher, vzp_instance instance,
                                 uint32_t counter, uint64_t value);
/* All counters at once, values[i] for counter i; count must be counter_count.
   Either every value is written or, when one does not fit, none. */
VZP_API vzp_status vzp_set_all(vzp_publisher *publisher, vzp_instance instance,
                               const uint64_t *values, uint32_t count);

#ifdef __cplusplus
}
#endif

#endif /* VUDOZID_PROVIDER_H */
