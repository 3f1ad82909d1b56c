// What the progress line of a long conversion says, and how it fits a
// terminal's width. Plain text and arithmetic: the same on every system.
#ifndef LUMTAR_PROGRESS_H
#define LUMTAR_PROGRESS_H

#include <cstdint>
#include <string>

namespace lumtar {

struct ProgressFigures {
    std::string name;
    int place = 1, files = 1;  // the file's place in the run's list: "2/7" when there are several
    std::int64_t done = 0;     // bytes converted
    std::int64_t total = 0;    // bytes planned
    double rate = 0;           // recent bytes per second
};

// The line, in printable ASCII whatever the name holds, so that any code
// page shows it, and at most width - 3 columns long, so that neither the
// cursor nor the "^C" that a terminal echoes after it wraps to the next
// line, where erasing could not reach. A name too long for that loses its
// beginning, marked by "...".
std::string progress_line(const ProgressFigures &figures, int width);

}  // namespace lumtar

#endif
