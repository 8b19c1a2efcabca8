// Perflib pair lists: a multi-string of title index and text, two strings per
// pair, ended by the empty string. These routines work on a list held in memory
// and never look beyond the `count` characters they are given: the list ends at
// the first empty string, or at the end of the buffer, whichever comes first.
// An index string with no text behind it (the empty string or the buffer's end
// follows) ends the list too, and the dangling index is dropped.
#pragma once
#include <cstddef>

#include "support/types.h"
#include "support/wide_string.h"

namespace vz {

// The number an index string stands for: optional leading white space and a
// sign, then the leading decimal digits (none: 0). A magnitude beyond 32 bits
// saturates at 0xFFFFFFFF; a minus sign negates in unsigned 32-bit arithmetic.
DWORD ParseTitleIndex(const WCHAR* text, std::size_t length);

// Characters that the pair of `text` with the index `index` takes, both NULs included.
std::size_t TitlePairLength(DWORD index, std::size_t textLength);

// Builds the merged list into `out` (room for `outCount` characters): the old
// pairs in their order, without those whose index lies in [first, last], and the
// run of the new pairs (first, first + 2, ... in the order of `texts`) in front
// of the first old pair whose index is not below `first`, else at the end. The
// list is ended by one empty string. Returns the characters written, or 0 when
// the result would not fit or a text is empty (it would end the list early).
std::size_t MergePairList(const WCHAR* old, std::size_t oldCount, const WString* texts,
                          std::size_t textCount, DWORD first, DWORD last, WCHAR* out,
                          std::size_t outCount);

// Removes in place every pair whose index lies in [lowest, highest] and ends the
// list with one empty string. Returns the characters now in use (at least 1),
// or 0 when `count` is 0. A buffer filled up to its last character by pairs
// loses its last pair to the terminator.
std::size_t RemovePairRange(WCHAR* list, std::size_t count, DWORD lowest, DWORD highest);

}  // namespace vz
