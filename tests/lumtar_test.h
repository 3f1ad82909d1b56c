// Shared by the tool's process-level tests. lumtar_test.cpp holds the
// scenario runner and the tests of every system; one of lumtar_posix_test.cpp
// and lumtar_win32_test.cpp, chosen by CMake, adds the scenarios and tests
// that only its system has.
#ifndef TESTS_LUMTAR_TEST_H
#define TESTS_LUMTAR_TEST_H

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/cipher_model.h"
#include "support/process.h"
#include "support/system.h"
#include "support/temp_dir.h"

namespace lumtar_test {

using namespace testing_support;

// A file of a scenario, made in a fresh directory before the run and
// checked after it.
struct File {
    std::string name;  // may hold directories, which are made too
    std::string content;
    unsigned mode = 0644;      // POSIX permissions; Windows: read-only and hidden without 0200
    std::optional<std::string> key = {};  // the key it is converted with by the end; none: unchanged
    std::int64_t limit = -1;   // converted up to this offset only
    unsigned mode_after = 0;   // 0: the mode it had
    std::int64_t from = 0;     // converted from this offset on only
};

// One run of the tool and all that it must leave. In args, out and err,
// "$/" stands for the scenario's directory.
struct Scenario {
    std::string name;
    std::vector<File> files;
    std::vector<std::string> args;
    int status = 0;
    std::string out = {}, err = {};
    bool as_nobody = false;                       // POSIX: the unprivileged user runs it and owns the files
    std::function<void()> in_child = {};          // POSIX: runs in the child before the tool starts
    std::function<void(const std::string &dir)> setup = {};  // last, after the files
    std::vector<std::string> env = {};
};

void PrintTo(const Scenario &s, std::ostream *os);

// The system's part of a scenario, in its own test file: the files'
// permissions and owners before the run; after it, whatever it held open
// let go, and their modes.
void prepare_system(const Scenario &s, const TempDir &dir, ProcessOptions &options);
void check_system(const Scenario &s, const TempDir &dir);

class ScenarioTest : public testing::TestWithParam<Scenario> {};

extern const std::string kUsageLine;
// Random bytes: binary under any keystream, so text mode refuses them.
extern const std::string kBinary;

ProcessResult lumtar(std::vector<std::string> args, const ProcessOptions &options = {});

// What the tool says when an interruption stops the conversion of path
// after n bytes; recorded: the file keeps the record of it.
std::string interruption_message(const std::string &path, std::uint64_t n, bool recorded = false);
// The count that such a message about path at the start of err gives; 0
// when err starts with none.
std::uint64_t interruption_count(const std::string &err, const std::string &path);

// Compares long byte strings, naming the first difference instead of
// printing both.
testing::AssertionResult same_bytes(const std::string &got, const std::string &want);

// A file of several GiB, zeros until written, in a directory of its own
// that goes with it: memory-backed where the system has room to spare.
struct BigFile {
    explicit BigFile(std::uint64_t size);
    void write_at(std::uint64_t offset, const std::string &bytes);
    std::string read_at(std::uint64_t offset, std::size_t n) const;

    TempDir dir;
    std::string path;
    std::string no_room;  // why no place had room for it; empty when it was made
};

}  // namespace lumtar_test

#endif
