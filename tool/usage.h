// The help text.
#ifndef LUMTAR_USAGE_H
#define LUMTAR_USAGE_H

#include <string>

namespace lumtar {

// The help lines as stored, in Shift-JIS (code page 932), ended by a null
// pointer. Line 2 is also the usage message of every command-line error.
extern const char *const usage[];

// The help lines as stored, each with a line end.
std::string help_text();

}  // namespace lumtar

#endif
