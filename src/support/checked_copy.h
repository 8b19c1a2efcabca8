// Bounded memory and string copies. Each returns an errno-style number and a
// Checked* wrapper raises CAtlException for the ones that are not success.
#pragma once
#include <cstddef>

#include "support/types.h"

namespace vz {

// Copies count bytes into a destination of destSize bytes. Null pointers give
// EINVAL (the destination is cleared when it is valid); too small a destination
// gives ERANGE and a cleared destination.
int CopyBytes(void* dest, std::size_t destSize, const void* src, std::size_t count);

// Copies at most count units of src (stopping at its terminator) and always
// terminates dest, which holds destCount units. A copy that does not fit gives
// ERANGE and an empty dest.
int CopyWideString(WCHAR* dest, std::size_t destCount, const WCHAR* src, std::size_t count);

void CheckedCopyBytes(void* dest, std::size_t destSize, const void* src, std::size_t count);
void CheckedCopyWideString(WCHAR* dest, std::size_t destCount, const WCHAR* src,
                           std::size_t count);

// Length of a NUL-terminated UTF-16 string.
std::size_t WideLength(const WCHAR* text);

// Length of a UTF-16 string that ends at its terminator or after max units,
// whichever comes first.
std::size_t WideLengthBounded(const WCHAR* text, std::size_t max);

}  // namespace vz
