// Runs a program as a child process and collects what it did: the test
// harness for behaviour that only a whole process shows (exit status, the
// exact bytes of stdout and stderr, files left on disk).
#ifndef TESTS_SUPPORT_PROCESS_H
#define TESTS_SUPPORT_PROCESS_H

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace testing_support {

struct ProcessResult {
    int exit_status = -1;  // -1 when the child was killed by a signal
    int term_signal = 0;   // the signal that killed it, else 0
    std::string out;
    std::string err;
};

struct ProcessOptions {
    std::vector<std::string> env;      // "NAME=value" entries added to the environment
    std::string cwd;                   // working directory; empty keeps the current one
    uid_t uid = 0;                     // nonzero: run as this user and group (needs root)
    std::function<void()> in_child;    // runs in the child just before exec
};

// Runs argv[0] with the arguments and waits for it.
ProcessResult run_process(const std::vector<std::string> &argv, const ProcessOptions &options = {});

// Starts argv[0] and returns its pid; the output goes to the given files.
pid_t start_process(const std::vector<std::string> &argv, const std::string &out_path,
                    const std::string &err_path, const ProcessOptions &options = {});

// Waits for a child started by start_process.
ProcessResult wait_process(pid_t pid, const std::string &out_path, const std::string &err_path);

// The uid and gid that tests use to drop root: root ignores permissions.
constexpr uid_t kNobody = 65534;

}  // namespace testing_support

#endif
