// GoogleTest's Notification for Debian's mingw-w64 g++, whose win32 thread model
// has no std::mutex to build GoogleTest's own; these tests never wait on it.
#pragma once
#include <atomic>

namespace testing {
namespace internal {

class Notification {
public:
    void Notify() { notified_.store(true); }
    void WaitForNotification() {
        while (!notified_.load()) {
        }
    }

private:
    std::atomic<bool> notified_{false};
};

}  // namespace internal
}  // namespace testing
