// The progress line of a long conversion on the terminal that the
// standard error is: drawn only for a file that takes more than a second,
// rewritten in place, and erased without a trace.
#ifndef LUMTAR_PROGRESS_VIEW_H
#define LUMTAR_PROGRESS_VIEW_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>

#include "progress.h"

namespace lumtar {

// The time between two looks at the conversion: at most four lines a
// second.
constexpr std::chrono::milliseconds kProgressTick{250};

// Whether this run shows progress: the standard error is a terminal, and
// LUMTAR_PROGRESS is not "0".
bool progress_wanted();

class ProgressView {
public:
    using Clock = std::chrono::steady_clock;

    // The file's conversion began at start.
    ProgressView(ProgressFigures figures, Clock::time_point start);

    // Takes a look, once a tick, at the bytes converted so far.
    void update(std::int64_t done);
    // Leaves the cursor at the start of an empty line, where a message or
    // the next file may go.
    void erase();

private:
    struct Sample {
        Clock::time_point at;
        std::int64_t done;
    };

    ProgressFigures figures_;
    Clock::time_point start_;
    std::deque<Sample> recent_;  // the throughput is measured over these
    std::size_t drawn_ = 0;      // the length of the line on the terminal
};

}  // namespace lumtar

#endif
