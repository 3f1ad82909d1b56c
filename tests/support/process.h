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

namespace testing_support {

struct ProcessResult {
    int exit_status = -1;  // -1 when the child was killed by a signal
    int term_signal = 0;   // the signal that killed it, else 0 (always 0 on Windows)
    std::string out;
    std::string err;
};

struct ProcessOptions {
    std::vector<std::string> env;      // "NAME=value" entries added to the environment
    std::string cwd;                   // working directory; empty keeps the current one
    unsigned uid = 0;                  // nonzero: run as this user and group (needs root);
                                       // Windows has no uid and ignores it
    bool new_process_group = false;    // Windows: the child leads a process group of its own,
                                       // which a console control event can be sent to
    std::function<void()> in_child;    // runs in the child just before exec; POSIX only:
                                       // Windows starts a program without forking, and
                                       // the helper throws std::invalid_argument there
};

// Runs argv[0] (a path: no search of PATH) with the arguments and waits for
// it. Standard input is the null device. On Windows the arguments reach the
// child's argv exactly as given, quoted for its C runtime's parser.
ProcessResult run_process(const std::vector<std::string> &argv, const ProcessOptions &options = {});

// Starts argv[0] and returns its process id; the output goes to the given
// files.
pid_t start_process(const std::vector<std::string> &argv, const std::string &out_path,
                    const std::string &err_path, const ProcessOptions &options = {});

// Waits for a child started by start_process.
ProcessResult wait_process(pid_t pid, const std::string &out_path, const std::string &err_path);

// The uid and gid that tests use to drop root: root ignores permissions.
constexpr unsigned kNobody = 65534;

}  // namespace testing_support

#endif
