// Converting one named file in place, and stopping cleanly on a signal.
#ifndef LUMTAR_CONVERT_H
#define LUMTAR_CONVERT_H

#include <cstdint>

namespace lumtar {

struct Options {
    bool text_mode = false;
    std::int64_t limit = -1;  // -1: no limit
};

enum class Outcome {
    done,         // converted, or skipped with a message: go on
    failed,       // text-mode mismatch or I/O error, reported: stop the run
    interrupted,  // stopped by a signal, reported: stop the run
};

// SIGINT, SIGTERM and SIGHUP from now on only ask the conversion to stop at
// the next chunk boundary.
void catch_interruptions();
// The signal that asked to stop, or 0.
int interruption();

Outcome convert_file(const char *name, const Options &options);

}  // namespace lumtar

#endif
