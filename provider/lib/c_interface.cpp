// The SDK's C functions over StatisticsPublisher. Nothing throws across this
// boundary: a failed allocation becomes VZP_ERROR_OUT_OF_MEMORY.
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "platform/shared_memory_writer.h"
#include "statistics_publisher.h"
#include "vudozid_provider.h"

struct vzp_publisher {
    vz::provider::StatisticsPublisher writer;
    vz::DWORD categoryId;
};

namespace {

using vz::provider::ConvertName;

template <typename Operation>
vzp_status Guarded(Operation operation) noexcept {
    try {
        return operation();
    } catch (const std::bad_alloc&) {
        return VZP_ERROR_OUT_OF_MEMORY;
    } catch (...) {
        return VZP_ERROR_SYSTEM;
    }
}

// An application name makes kernel object names: no backslash, bounded length.
bool ValidApplication(const char* utf8, std::u16string* application) {
    return ConvertName(utf8, application) && !application->empty() &&
           application->size() <= vz::provider::kMaxApplicationLength &&
           application->find(u'\\') == std::u16string::npos;
}

// The sizes of the public structures in the first version that had size
// fields (1.0); a program built against it or any later header is accepted.
constexpr uint32_t kObjectSize1_0 = offsetof(vzp_object, counter_count) + sizeof(uint32_t);
constexpr uint32_t kCounterSize1_0 = offsetof(vzp_counter, default_scale) + sizeof(int32_t);

// The caller's object and counters as this version lays them out: the fields
// that the caller's (older) header had are copied, the others stay 0. False
// for sizes that VZP_OBJECT_INIT of no version this library knows would set.
bool ReadObject(const vzp_object& given, vzp_object* object, std::vector<vzp_counter>* counters) {
    if (given.struct_size < kObjectSize1_0 || given.struct_size > sizeof(vzp_object) ||
        given.counter_size < kCounterSize1_0 || given.counter_size > sizeof(vzp_counter))
        return false;
    *object = vzp_object();
    std::memcpy(object, &given, given.struct_size);
    // More counters than an object may have are refused by DescribeObject unread.
    if (object->counters != nullptr && object->counter_count <= vz::provider::kMaxCounters) {
        counters->assign(object->counter_count, vzp_counter());
        const auto* bytes = reinterpret_cast<const unsigned char*>(object->counters);
        for (std::size_t i = 0; i < counters->size(); ++i)
            std::memcpy(&(*counters)[i], bytes + i * given.counter_size, given.counter_size);
        object->counters = counters->data();
    }
    object->struct_size = sizeof(vzp_object);
    object->counter_size = sizeof(vzp_counter);
    return true;
}

}  // namespace

extern "C" {

const char* vzp_status_message(vzp_status status) {
    switch (status) {
        case VZP_OK: return "success";
        case VZP_ERROR_INVALID_ARGUMENT:
            return "invalid argument: a null pointer, a text that is not UTF-8, an application "
                   "name that is empty, longer than 200 characters or contains a backslash, or "
                   "an object description not started from VZP_OBJECT_INIT";
        case VZP_ERROR_BAD_DESCRIPTION:
            return "the object description cannot be published: check its names, counter count, "
                   "counter types, default counter and maximum instance name length";
        case VZP_ERROR_ALREADY_PUBLISHED:
            return "another publisher is already publishing this application name; its data "
                   "was left untouched";
        case VZP_ERROR_ACCESS_DENIED:
            return "access denied creating the shared-memory blocks: \"Global\\\" objects need a "
                   "service account or the privilege SeCreateGlobalPrivilege";
        case VZP_ERROR_SYSTEM:
            return "a system call failed (vzp_last_system_error tells which and why)";
        case VZP_ERROR_OUT_OF_MEMORY: return "out of memory";
        case VZP_ERROR_EMPTY_NAME: return "the instance name is empty";
        case VZP_ERROR_NAME_TOO_LONG:
            return "the instance name with its terminator is longer than the object's maximum instance "
                   "name length";
        case VZP_ERROR_UNKNOWN_INSTANCE:
            return "unknown instance handle: 0, never handed out, or already removed";
        case VZP_ERROR_UNKNOWN_COUNTER: return "the counter index is beyond the object's counters";
        case VZP_ERROR_VALUE_TOO_LARGE:
            return "the value does not fit the counter's size; nothing was written";
        case VZP_ERROR_COUNT_MISMATCH:
            return "the number of values differs from the object's number of counters";
        case VZP_ERROR_NO_ROOM: return "no further shared-memory block can be created";
        case VZP_ERROR_NOT_REGISTERED:
            return "the application has no registered title indices (its performance key is "
                   "missing \"First Counter\" or \"First Help\")";
        case VZP_ERROR_NOT_OWNER:
            return "a shared-memory block or the publisher claim of this application exists and "
                   "another account made it; nothing was written into it";
        default: return "unknown status code";
    }
}

uint32_t vzp_version(void) {
    return VZP_MAKE_VERSION(VZP_VERSION_MAJOR, VZP_VERSION_MINOR, VZP_VERSION_PATCH);
}

uint32_t vzp_last_system_error(char* text, size_t size) {
    const vz::plat::WriterFailure& failure = vz::plat::LastWriterFailure();
    if (text == nullptr || size == 0) return static_cast<uint32_t>(failure.code);
    text[0] = '\0';
    if (failure.code == 0) return 0;
    char sentence[512];
    vz::plat::SystemErrorText(failure.code, sentence, sizeof sentence);
    std::snprintf(text, size, "%s: %s", failure.call, sentence);
    return static_cast<uint32_t>(failure.code);
}

vzp_status vzp_registered_indices(const char* application, uint32_t* first_name_index,
                                  uint32_t* first_help_index) {
    return Guarded([&] {
        std::u16string name;
        if (first_name_index == nullptr || first_help_index == nullptr ||
            !ValidApplication(application, &name))
            return VZP_ERROR_INVALID_ARGUMENT;
        return vz::provider::RegisteredIndices(name, first_name_index, first_help_index);
    });
}

vzp_status vzp_open(const char* application, const vzp_object* given, vzp_publisher** publisher) {
    if (publisher != nullptr) *publisher = nullptr;
    vz::plat::ClearWriterFailure();
    return Guarded([&] {
        std::u16string name;
        vzp_object object;
        std::vector<vzp_counter> counters;
        if (given == nullptr || publisher == nullptr || !ValidApplication(application, &name) ||
            !ReadObject(*given, &object, &counters))
            return VZP_ERROR_INVALID_ARGUMENT;
        vz::provider::MapDescription map;
        const vzp_status described = vz::provider::DescribeObject(object, &map);
        if (described != VZP_OK) return described;
        auto* opened = new vzp_publisher{{std::move(name), std::move(map)}, object.id};
        const vzp_status started = opened->writer.Start();
        if (started != VZP_OK) {
            delete opened;
            return started;
        }
        *publisher = opened;
        return VZP_OK;
    });
}

vzp_status vzp_close(vzp_publisher* publisher) {
    return Guarded([&] {
        delete publisher;  // the writer frees its records before it removes the blocks
        return VZP_OK;
    });
}

vzp_status vzp_add_instance(vzp_publisher* publisher, const char* name, vzp_instance* instance) {
    if (instance != nullptr) *instance = 0;
    vz::plat::ClearWriterFailure();
    return Guarded([&] {
        std::u16string text;
        if (publisher == nullptr || instance == nullptr || !ConvertName(name, &text))
            return VZP_ERROR_INVALID_ARGUMENT;
        return publisher->writer.AddInstance(publisher->categoryId, text, instance);
    });
}

vzp_status vzp_remove_instance(vzp_publisher* publisher, vzp_instance instance) {
    return Guarded([&] {
        return publisher == nullptr ? VZP_ERROR_INVALID_ARGUMENT
                                    : publisher->writer.RemoveInstance(instance);
    });
}

// The update path: nothing in it can throw, so it goes straight to the writer.
vzp_status vzp_set_value(vzp_publisher* publisher, vzp_instance instance, uint32_t counter,
                         uint64_t value) {
    return publisher == nullptr ? VZP_ERROR_INVALID_ARGUMENT
                                : publisher->writer.SetValue(instance, counter, value);
}

vzp_status vzp_set_all(vzp_publisher* publisher, vzp_instance instance, const uint64_t* values,
                       uint32_t count) {
    return publisher == nullptr ? VZP_ERROR_INVALID_ARGUMENT
                                : publisher->writer.SetValues(instance, values, count);
}

vzp_status vzp_add(vzp_publisher* publisher, vzp_instance instance, uint32_t counter,
                   int64_t delta) {
    return publisher == nullptr ? VZP_ERROR_INVALID_ARGUMENT
                                : publisher->writer.AddToValue(instance, counter, delta);
}

}  // extern "C"
