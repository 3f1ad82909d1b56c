// The help text.
#ifndef LUMTAR_USAGE_H
#define LUMTAR_USAGE_H

#include <cstdio>

namespace lumtar {

// The help lines as stored, in Shift-JIS (code page 932), ended by a null
// pointer. Line 2 is also the usage message of every command-line error.
extern const char *const usage[];

// Writes the help lines, each with a line end. They are converted to the
// character set of the user's locale where it can show them; otherwise (the
// C locale, a set without Japanese, no converter) they go out as stored.
void print_help(std::FILE *out);

}  // namespace lumtar

#endif
