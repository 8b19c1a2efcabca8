// Heap allocation used by the library's own containers and buffers. Every block
// goes through here so that a test or benchmark can count allocations and make a
// chosen one fail.
#pragma once
#include <cstddef>

namespace vz {

void* AllocateZeroed(std::size_t count, std::size_t size) noexcept;  // null on failure
void* AllocateRaw(std::size_t size) noexcept;                          // null on failure
void FreeMemory(void* block) noexcept;

namespace allocation_hooks {
// Number of allocations made through this interface since the process started.
std::size_t Count() noexcept;
// The n-th following allocation (1 = the next one) fails; 0 switches failing off.
void FailAfter(std::size_t n) noexcept;
}  // namespace allocation_hooks

}  // namespace vz
