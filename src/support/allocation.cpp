#include "support/allocation.h"

#include <atomic>
#include <cstdlib>

namespace vz {
namespace {
std::atomic<std::size_t> g_count{0};
std::atomic<std::size_t> g_failAfter{0};

bool ShouldFail() noexcept {
    g_count.fetch_add(1, std::memory_order_relaxed);
    std::size_t n = g_failAfter.load(std::memory_order_relaxed);
    if (n == 0) return false;
    if (n == 1) {
        g_failAfter.store(0, std::memory_order_relaxed);
        return true;
    }
    g_failAfter.store(n - 1, std::memory_order_relaxed);
    return false;
}
}  // namespace

void* AllocateZeroed(std::size_t count, std::size_t size) noexcept {
    if (ShouldFail()) return nullptr;
    return std::calloc(count == 0 ? 1 : count, size == 0 ? 1 : size);
}

void* AllocateRaw(std::size_t size) noexcept {
    if (ShouldFail()) return nullptr;
    return std::malloc(size == 0 ? 1 : size);
}

void FreeMemory(void* block) noexcept { std::free(block); }

namespace allocation_hooks {
std::size_t Count() noexcept { return g_count.load(std::memory_order_relaxed); }
void FailAfter(std::size_t n) noexcept { g_failAfter.store(n, std::memory_order_relaxed); }
}  // namespace allocation_hooks

}  // namespace vz
