// Case folding shared by lstrcmpiW and the registry's name comparisons.
#pragma once

namespace vz {
namespace emu {
namespace detail {

// The upper-case form of one UTF-16 unit for ASCII, Latin-1, Latin
// Extended-A, basic Greek and Cyrillic; every other unit is its own fold.
char16_t FoldCase(char16_t c);

}  // namespace detail
}  // namespace emu
}  // namespace vz
