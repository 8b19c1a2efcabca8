#include "platform/emulated/fault_injection.h"

#include <mutex>
#include <string>
#include <vector>

#include "platform/emulated/emulated_control.h"

namespace vz {
namespace emu {
namespace detail {
namespace {

struct Fault {
    std::string function;
    std::size_t remaining;
    LONG error;
};

std::mutex& FaultMutex() {
    static std::mutex mutex;
    return mutex;
}

std::vector<Fault>& Faults() {
    static std::vector<Fault> faults;
    return faults;
}

}  // namespace

bool TakeFault(const char* function, bool registryCall, LONG* error) {
    std::lock_guard<std::mutex> lock(FaultMutex());
    std::vector<Fault>& faults = Faults();
    bool fired = false;
    for (auto it = faults.begin(); it != faults.end();) {
        const bool matches = it->function == function || (registryCall && it->function == "*");
        if (matches && --it->remaining == 0) {
            if (!fired) *error = it->error;
            fired = true;
            it = faults.erase(it);
        } else {
            ++it;
        }
    }
    return fired;
}

}  // namespace detail

void FailCall(const std::string& function, std::size_t nth, LONG error) {
    if (nth == 0) return;
    std::lock_guard<std::mutex> lock(detail::FaultMutex());
    detail::Faults().push_back({function, nth, error});
}

void ClearFaults() {
    std::lock_guard<std::mutex> lock(detail::FaultMutex());
    detail::Faults().clear();
}

}  // namespace emu
}  // namespace vz
