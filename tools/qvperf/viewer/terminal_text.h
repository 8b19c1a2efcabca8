// Text as a terminal shows it: how many columns a UTF-8 string takes (wide
// East Asian characters and emoji take two, combining marks none) and control
// characters made visible, so that a name cannot break or shift a table row.
#pragma once
#include <cstddef>
#include <string>

namespace qvperf {

// Columns `utf8` takes on a terminal (meant for text after EscapeControls,
// where every code point is printable).
std::size_t DisplayColumns(const std::string& utf8);

// C0 and C1 control characters and DEL as \n, \r, \t or \xNN; each byte
// that is not part of valid UTF-8 as U+FFFD. Everything else unchanged.
std::string EscapeControls(const std::string& utf8);

}  // namespace qvperf
