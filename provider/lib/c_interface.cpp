// The SDK's C functions over StatisticsPublisher. Nothing throws across this
// boundary: a failed allocation becomes VZP_ERROR_OUT_OF_MEMORY.
#include <new>

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

}  // namespace

extern "C" {

const char* vzp_status_message(vzp_status status) {
    switch (status) {
        case VZP_OK: return "success";
        case VZP_ERROR_INVALID_ARGUMENT:
            return "invalid argument: a null pointer, a text that is not UTF-8, or an application "
                   "name that is empty, longer than 200 characters or contains a backslash";
        case VZP_ERROR_BAD_DESCRIPTION:
            return "the object description cannot be published: check its names, counter count, "
                   "counter types, default counter and maximum instance name length";
        case VZP_ERROR_ALREADY_PUBLISHED:
            return "another publisher is already publishing this application name; its data "
                   "was left untouched";
        case VZP_ERROR_ACCESS_DENIED:
            return "access denied creating the shared-memory blocks: \"Global\\\" objects need a "
                   "service account or the privilege SeCreateGlobalPrivilege";
        case VZP_ERROR_SYSTEM: return "a system call failed";
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
        default: return "unknown status code";
    }
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

vzp_status vzp_open(const char* application, const vzp_object* object, vzp_publisher** publisher) {
    if (publisher != nullptr) *publisher = nullptr;
    return Guarded([&] {
        std::u16string name;
        if (object == nullptr || publisher == nullptr || !ValidApplication(application, &name))
            return VZP_ERROR_INVALID_ARGUMENT;
        vz::provider::MapDescription map;
        const vzp_status described = vz::provider::DescribeObject(*object, &map);
        if (described != VZP_OK) return described;
        auto* opened = new vzp_publisher{{std::move(name), std::move(map)}, object->id};
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

vzp_status vzp_set_value(vzp_publisher* publisher, vzp_instance instance, uint32_t counter,
                         uint64_t value) {
    return Guarded([&] {
        return publisher == nullptr ? VZP_ERROR_INVALID_ARGUMENT
                                    : publisher->writer.SetValue(instance, counter, value);
    });
}

vzp_status vzp_set_all(vzp_publisher* publisher, vzp_instance instance, const uint64_t* values,
                       uint32_t count) {
    return Guarded([&] {
        return publisher == nullptr ? VZP_ERROR_INVALID_ARGUMENT
                                    : publisher->writer.SetValues(instance, values, count);
    });
}

}  // extern "C"
