// Runs a program as a child process and collects what it did: the test
// harness for behaviour that only a whole process shows (exit status, the
// exact bytes of stdout and stderr, files left on disk). One implementation
// per system, chosen by CMake: process_posix.cpp, process_win32.cpp.
#ifndef TESTS_SUPPORT_PROCESS_H
#define TESTS_SUPPORT_PROCESS_H

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace testing_support {

struct ProcessResult {
    int exit_status = -1;  // -1 when the child was killed by a signal
    std::string out;
    std::string err;
};

struct ProcessOptions {
    std::vector<std::string> env;    // "NAME=value" entries added to the environment
    unsigned uid = 0;                // nonzero: run as this user and group (needs root; POSIX only)
    bool new_process_group = false;  // Windows: a group of its own, for console control events
    std::function<void()> in_child;  // runs in the child just before exec: POSIX only, as it needs fork
};

// Starts argv[0] (a path: no search of PATH) with the arguments exactly as
// given; standard input is the null device, the output goes to the files.
pid_t start_process(const std::vector<std::string> &argv, const std::string &out_path,
                    const std::string &err_path, const ProcessOptions &options = {});

// Waits for a child of start_process and reads what it wrote.
ProcessResult wait_process(pid_t pid, const std::string &out_path, const std::string &err_path);

// Starts argv[0] and waits for it, its output caught in files of its own.
inline ProcessResult run_process(const std::vector<std::string> &argv, const ProcessOptions &options = {})
{
    TempDir output;
    pid_t pid = start_process(argv, output.file("out"), output.file("err"), options);
    return wait_process(pid, output.file("out"), output.file("err"));
}

// The uid and gid that tests use to drop root: root ignores permissions.
constexpr unsigned kNobody = 65534;

}  // namespace testing_support

#endif
