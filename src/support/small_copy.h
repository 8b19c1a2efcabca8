// Copies of a few hundred bytes at most, of a size known only at run time.
//
// A memcpy of a run-time size goes to the C library's routine, whose call and
// size dispatch cost as much as the copy itself when a collection moves three
// small pieces per instance (record, name, values). Sizes up to 256 bytes are
// copied here as two overlapping fixed-size halves, which the compiler turns
// into a few vector moves; larger sizes go to memcpy.
#pragma once
#include <cstddef>
#include <cstring>

namespace vz {

namespace detail {

// Two copies of N bytes, from the start and up to the end, cover any size from
// N to 2N.
template <std::size_t N>
inline void CopyOverlappingHalves(unsigned char* to, const unsigned char* from,
                                  std::size_t size) noexcept {
    std::memcpy(to, from, N);
    std::memcpy(to + size - N, from + size - N, N);
}

}  // namespace detail

inline void CopySmall(void* target, const void* source, std::size_t size) noexcept {
    auto* to = static_cast<unsigned char*>(target);
    const auto* from = static_cast<const unsigned char*>(source);
    // A search over the size classes, three comparisons deep: the sizes of
    // one collection repeat, so every branch is predicted.
    if (size > 64) {
        if (size > 256) {
            // Hidden from the compiler, which would otherwise inline a bounded
            // size as rep movs with its slow start.
            asm("" : "+r"(size));
            std::memcpy(to, from, size);
        } else if (size > 128) {
            detail::CopyOverlappingHalves<128>(to, from, size);
        } else {
            detail::CopyOverlappingHalves<64>(to, from, size);
        }
    } else if (size > 16) {
        if (size > 32)
            detail::CopyOverlappingHalves<32>(to, from, size);
        else
            detail::CopyOverlappingHalves<16>(to, from, size);
    } else if (size > 8) {
        detail::CopyOverlappingHalves<8>(to, from, size);
    } else if (size >= 4) {
        detail::CopyOverlappingHalves<4>(to, from, size);
    } else {
        for (std::size_t i = 0; i < size; ++i) to[i] = from[i];
    }
}

}  // namespace vz
