// Converting one named file in place.
#ifndef LUMTAR_CONVERT_H
#define LUMTAR_CONVERT_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "file_io.h"
#include "system.h"

namespace lumtar {

struct Options {
    bool text_mode = false;
    std::int64_t limit = -1;  // -1: no limit
    int place = 0, files = 0; // the file's place in the run's list, from 1, for the progress line
};

enum class Outcome {
    done,         // converted: go on
    skipped,      // left alone, with a message: go on
    failed,       // a mismatch or an error, reported: stop the run
    interrupted,  // stopped by an interruption, reported: stop the run
};

// The files converted so far in this run, with the names that reached them.
using ConvertedFiles = std::vector<std::pair<FileId, std::string>>;

Outcome convert_file(const sys::FileName &name, const Options &options, ConvertedFiles &converted);

}  // namespace lumtar

#endif
