// The SIGBUS guard of the emulated platform's reader views.
#include "platform/emulated/view_guard.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace vz {
namespace emu {
namespace {

// The reader views the SIGBUS handler may repair. A slot is filled (size
// first, then start) before its view is handed out and emptied before the view
// is unmapped; the handler only reads the slots.
struct GuardedView {
    std::atomic<std::uintptr_t> start{0};
    std::atomic<std::size_t> size{0};
    std::atomic<bool> broken{false};
};
constexpr std::size_t kMaxGuardedViews = 4096;
GuardedView g_guardedViews[kMaxGuardedViews];
struct sigaction g_previousBusHandler;
std::uintptr_t g_pageSize = 4096;
bool g_busHandlerInstalled = false;
std::mutex g_slotsMutex;  // writers of the slots; the handler takes no lock

void ChainBusError(int signal, siginfo_t* info, void* context) {
    if (g_previousBusHandler.sa_flags & SA_SIGINFO) {
        g_previousBusHandler.sa_sigaction(signal, info, context);
    } else if (g_previousBusHandler.sa_handler != SIG_DFL &&
               g_previousBusHandler.sa_handler != SIG_IGN) {
        g_previousBusHandler.sa_handler(signal);
    } else {
        // The faulting read runs again and ends the process the default way.
        struct sigaction fallback = {};
        fallback.sa_handler = SIG_DFL;
        sigaction(SIGBUS, &fallback, nullptr);
    }
}

void OnBusError(int signal, siginfo_t* info, void* context) {
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (GuardedView& view : g_guardedViews) {
        const std::uintptr_t start = view.start.load(std::memory_order_acquire);
        const std::size_t size = view.size.load(std::memory_order_acquire);
        if (start == 0 || address - start >= size) continue;
        const std::uintptr_t page = address & ~(g_pageSize - 1);
        const std::uintptr_t end = (start + size + g_pageSize - 1) & ~(g_pageSize - 1);
        if (mmap(reinterpret_cast<void*>(page), end - page, PROT_READ,
                 MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) == MAP_FAILED)
            break;
        view.broken.store(true, std::memory_order_release);
        return;
    }
    ChainBusError(signal, info, context);
}

bool InstallBusHandler() {
    if (g_busHandlerInstalled) return true;
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pageSize > 0) g_pageSize = static_cast<std::uintptr_t>(pageSize);
    struct sigaction action = {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGBUS, &action, &g_previousBusHandler) != 0) return false;
    g_busHandlerInstalled = true;
    return true;
}

}  // namespace

bool GuardReaderView(const void* view, std::size_t size) {
    std::lock_guard<std::mutex> lock(g_slotsMutex);
    if (!InstallBusHandler()) return false;
    for (GuardedView& slot : g_guardedViews) {
        if (slot.start.load(std::memory_order_relaxed) != 0) continue;
        slot.broken.store(false, std::memory_order_relaxed);
        slot.size.store(size, std::memory_order_release);
        slot.start.store(reinterpret_cast<std::uintptr_t>(view), std::memory_order_release);
        return true;
    }
    return false;
}

void UnguardReaderView(const void* view) {
    std::lock_guard<std::mutex> lock(g_slotsMutex);
    for (GuardedView& slot : g_guardedViews)
        if (slot.start.load(std::memory_order_relaxed) == reinterpret_cast<std::uintptr_t>(view))
            slot.start.store(0, std::memory_order_release);
}

std::size_t BrokenViewCount() {
    std::lock_guard<std::mutex> lock(g_slotsMutex);
    std::size_t count = 0;
    for (const GuardedView& slot : g_guardedViews)
        if (slot.start.load(std::memory_order_acquire) != 0 &&
            slot.broken.load(std::memory_order_acquire))
            ++count;
    return count;
}

}  // namespace emu
}  // namespace vz
