#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "support/process.h"

namespace testing_support {

// The test process is single-threaded when it forks, so the child may call
// what it likes before exec.
pid_t start_process(const std::vector<std::string> &argv, const std::string &out_path,
                    const std::string &err_path, const ProcessOptions &options)
{
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid > 0)
        return pid;
    int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
        _exit(126);
    for (const auto &entry : options.env)
        putenv(const_cast<char *>(entry.c_str()));
    gid_t id = options.uid;
    if (id != 0 && (setgroups(0, nullptr) != 0 || setresgid(id, id, id) != 0 || setresuid(id, id, id) != 0))
        _exit(126);
    if (options.in_child)
        options.in_child();
    std::vector<char *> args;
    for (const auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

ProcessResult wait_process(pid_t pid, const std::string &out_path, const std::string &err_path)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(out_path), read_file(err_path)};
}

}  // namespace testing_support
