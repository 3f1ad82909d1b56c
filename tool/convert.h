// Converting one named file in place.
#ifndef LUMTAR_CONVERT_H
#define LUMTAR_CONVERT_H

#include <cstdint>
#include <memory>
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

// The files of one command, converted in turn. Small files, which take
// one write each, wait in a group whose records, and then whose writes,
// reach the disk with one sync for all: what goes wrong with them is
// reported when the group is written, before anything about a later file.
class Run {
public:
    Run();
    ~Run();
    Outcome convert(const sys::FileName &name, const Options &options);
    // Writes the group that waits.
    Outcome finish();

private:
    class Group;
    ConvertedFiles converted_;
    std::unique_ptr<Group> group_;
};

}  // namespace lumtar

#endif
