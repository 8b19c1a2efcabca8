// VudoZid provider SDK, C++ layer: the C interface of vudozid_provider.h
// behind a publisher object that closes itself, with failures thrown as
// vudozid::ProviderError. Header only; it adds no state of its own, so the
// threading contract of the C interface holds unchanged.
#ifndef VUDOZID_PROVIDER_HPP
#define VUDOZID_PROVIDER_HPP

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "vudozid_provider.h"

namespace vudozid {

class ProviderError : public std::runtime_error {
public:
    explicit ProviderError(vzp_status status)
        : std::runtime_error(Describe(status)), status_(status) {}
    vzp_status status() const noexcept { return status_; }

private:
    // The status's sentence; for a failure of the system, also the call that
    // failed and the system's own sentence (vzp_last_system_error).
    static std::string Describe(vzp_status status) {
        std::string text = vzp_status_message(status);
        char system[256];
        if ((status == VZP_ERROR_SYSTEM || status == VZP_ERROR_ACCESS_DENIED ||
             status == VZP_ERROR_NO_ROOM) &&
            vzp_last_system_error(system, sizeof system) != 0)
            text += std::string(": ") + system;
        return text;
    }

    vzp_status status_;
};

inline void Check(vzp_status status) {
    if (status != VZP_OK) throw ProviderError(status);
}

// The registered title indices of `application`; false when it is not registered.
inline bool RegisteredIndices(const std::string& application, vzp_object& object) {
    const vzp_status status = vzp_registered_indices(
        application.c_str(), &object.first_name_index, &object.first_help_index);
    if (status == VZP_ERROR_NOT_REGISTERED) return false;
    Check(status);
    return true;
}

class Publisher {
public:
    Publisher(const std::string& application, const vzp_object& object) {
        Check(vzp_open(application.c_str(), &object, &publisher_));
    }
    ~Publisher() { vzp_close(publisher_); }
    Publisher(Publisher&& other) noexcept : publisher_(other.publisher_) {
        other.publisher_ = nullptr;
    }
    Publisher& operator=(Publisher&& other) noexcept {
        if (this != &other) {
            vzp_close(publisher_);
            publisher_ = other.publisher_;
            other.publisher_ = nullptr;
        }
        return *this;
    }
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    vzp_instance AddInstance(const std::string& name) {
        vzp_instance instance = 0;
        Check(vzp_add_instance(publisher_, name.c_str(), &instance));
        return instance;
    }
    void RemoveInstance(vzp_instance instance) { Check(vzp_remove_instance(publisher_, instance)); }
    void SetValue(vzp_instance instance, std::uint32_t counter, std::uint64_t value) {
        Check(vzp_set_value(publisher_, instance, counter, value));
    }
    void SetAll(vzp_instance instance, const std::vector<std::uint64_t>& values) {
        Check(vzp_set_all(publisher_, instance, values.data(),
                          static_cast<std::uint32_t>(values.size())));
    }
    // Adds `delta` atomically, modulo the counter's size (see vzp_add).
    void Add(vzp_instance instance, std::uint32_t counter, std::int64_t delta) {
        Check(vzp_add(publisher_, instance, counter, delta));
    }
    // Frees the records and the blocks now instead of at destruction.
    void Close() {
        vzp_close(publisher_);
        publisher_ = nullptr;
    }

private:
    vzp_publisher* publisher_ = nullptr;
};

}  // namespace vudozid

#endif  // VUDOZID_PROVIDER_HPP
