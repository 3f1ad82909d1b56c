#include "support/process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "support/temp_dir.h"

namespace testing_support {
namespace {

// Sets up the child's environment and replaces it with the program; never
// returns. The test process is single-threaded when it forks, so the child
// may call what it likes before exec.
[[noreturn]] void exec_child(const std::vector<std::string> &argv, const ProcessOptions &options)
{
    for (const auto &entry : options.env)
        putenv(const_cast<char *>(entry.c_str()));
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0)
        _exit(126);
    if (options.uid != 0) {
        gid_t gid = options.uid;
        if (setgroups(0, nullptr) != 0 || setresgid(gid, gid, gid) != 0 ||
            setresuid(options.uid, options.uid, options.uid) != 0)
            _exit(126);
    }
    if (options.in_child)
        options.in_child();
    std::vector<char *> args;
    for (const auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

ProcessResult decode_status(int status)
{
    ProcessResult result;
    if (WIFEXITED(status))
        result.exit_status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.term_signal = WTERMSIG(status);
    return result;
}

}  // namespace

ProcessResult run_process(const std::vector<std::string> &argv, const ProcessOptions &options)
{
    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(out_pipe[1], STDOUT_FILENO);
        dup2(err_pipe[1], STDERR_FILENO);
        int null_fd = open("/dev/null", O_RDONLY);
        dup2(null_fd, STDIN_FILENO);
        exec_child(argv, options);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);

    std::string out, err;
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string *sinks[2] = {&out, &err};
    int open_count = 2;
    while (open_count > 0) {
        if (poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buf[4096];
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ProcessResult result = decode_status(status);
    result.out = std::move(out);
    result.err = std::move(err);
    return result;
}

pid_t start_process(const std::vector<std::string> &argv, const std::string &out_path,
                    const std::string &err_path, const ProcessOptions &options)
{
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        int out_fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        int err_fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (out_fd < 0 || err_fd < 0)
            _exit(126);
        dup2(out_fd, STDOUT_FILENO);
        dup2(err_fd, STDERR_FILENO);
        exec_child(argv, options);
    }
    return pid;
}

ProcessResult wait_process(pid_t pid, const std::string &out_path, const std::string &err_path)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ProcessResult result = decode_status(status);
    result.out = read_file(out_path);
    result.err = read_file(err_path);
    return result;
}

}  // namespace testing_support
