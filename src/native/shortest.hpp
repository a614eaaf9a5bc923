// Shortest decimal text of a finite double that reads back as the same
// double (from_chars, strtod, Python's float): at most 24 characters, with
// room for 32 at `out` (bytes past the text returned may be overwritten).
#pragma once

namespace orvane::touchstone {

char* write_shortest(char* out, double x);

}  // namespace orvane::touchstone
