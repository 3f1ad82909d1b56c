// Converting one named file in place.
#ifndef LUMTAR_CONVERT_H
#define LUMTAR_CONVERT_H

#include <cstdint>

namespace lumtar {

struct Options {
    bool text_mode = false;
    std::int64_t limit = -1;  // -1: no limit
    int place = 0, files = 0; // the file's place in the run's list, from 1, for the progress line
};

enum class Outcome {
    done,         // converted, or skipped with a message: go on
    failed,       // a mismatch or an error, reported: stop the run
    interrupted,  // stopped by an interruption, reported: stop the run
};

Outcome convert_file(const char *name, const Options &options);

}  // namespace lumtar

#endif
