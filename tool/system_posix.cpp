#include "system.h"

#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>

namespace lumtar::sys {
namespace {

// Set by the signal handler, read by every worker: a lock-free atomic is
// both safe in a handler and visible across threads.
std::atomic<int> caught_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void note_signal(int signal_number)
{
    caught_signal = signal_number;
}

bool is_open(int fd)
{
    return fcntl(fd, F_GETFD) != -1 || errno != EBADF;
}

bool is_stored_charset(const char *charset)
{
    for (const char *name : {"CP932", "WINDOWS-31J", "SHIFT_JIS", "SJIS"})
        if (std::strcmp(charset, name) == 0)
            return true;
    return false;
}

// The text in the given character set, or empty if it cannot be shown there.
std::string convert(std::string in, const char *charset)
{
    iconv_t cd = iconv_open(charset, "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return {};
    std::string out(in.size() * 4, '\0');
    char *in_p = in.data(), *out_p = out.data();
    size_t in_left = in.size(), out_left = out.size();
    size_t done = iconv(cd, &in_p, &in_left, &out_p, &out_left);
    iconv_close(cd);
    if (done == static_cast<size_t>(-1) || in_left != 0)
        return {};
    out.resize(out.size() - out_left);
    return out;
}

// The help in the character set of the user's locale where it can show
// it; otherwise (the C locale, a set without Japanese, no converter) as
// stored.
std::string help_for_locale(const std::string &stored)
{
    std::setlocale(LC_CTYPE, "");
    const char *charset = nl_langinfo(CODESET);
    if (is_stored_charset(charset))
        return stored;
    std::string shown = convert(stored, charset);
    return shown.empty() ? stored : shown;
}

}  // namespace

bool guard_standard_streams()
{
    // Descriptors are handed out lowest first, so each open lands on the
    // closed one being filled.
    for (int fd = 0; fd <= 2; ++fd)
        if (!is_open(fd) && open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd)
            return false;
    signal(SIGPIPE, SIG_IGN);
    // Past a file-size limit, writing fails with an error the tool reports
    // with its exact count, instead of the process being killed mid-chunk.
    signal(SIGXFSZ, SIG_IGN);
    return true;
}

std::vector<FileName> file_names(int argc, char *argv[], int first)
{
    std::vector<FileName> names;
    for (int i = first; i < argc; ++i)
        names.push_back({argv[i], argv[i]});
    return names;
}

// Every signal whose default action ends the process, but those that
// report a fault of the process itself (its state is not to be trusted)
// and those the tool ignores (SIGPIPE, SIGXFSZ: the write fails instead).
bool ends_the_process(int signal_number)
{
    switch (signal_number) {
    case SIGINT:
    case SIGTERM:
    case SIGHUP:
    case SIGQUIT:
    case SIGUSR1:
    case SIGUSR2:
    case SIGALRM:
    case SIGVTALRM:
    case SIGPROF:
    case SIGIO:
    case SIGPWR:
    case SIGSTKFLT:
    case SIGXCPU:
        return true;
    default:
        return signal_number >= SIGRTMIN && signal_number <= SIGRTMAX;
    }
}

void catch_interruptions()
{
    struct sigaction action {};
    action.sa_handler = note_signal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
        // A signal ignored on entry (nohup, a background job) stays ignored.
        struct sigaction inherited;
        if (ends_the_process(signal_number) && sigaction(signal_number, nullptr, &inherited) == 0 &&
            inherited.sa_handler != SIG_IGN)
            sigaction(signal_number, &action, nullptr);
    }
}

bool interrupted()
{
    return caught_signal != 0;
}

int interruption_status()
{
    return 128 + caught_signal;
}

int usable_cores()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) != 0)
        return 1;
    return std::max(1, CPU_COUNT(&set));
}

int write_help(const std::string &stored)
{
    std::string text = help_for_locale(stored);
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0)
        return 0;
    return errno != 0 ? errno : EIO;
}

// A terminal that cannot tell its size is taken as the classic one.
int error_terminal_width()
{
    if (!isatty(STDERR_FILENO))
        return 0;
    winsize size{};
    return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

// Straight to the descriptor: the thread that draws the line is the one
// that writes the messages, after it, so no stream buffer needs to keep
// them in order.
void write_to_error_terminal(const std::string &text)
{
    for (std::size_t done = 0; done < text.size();) {
        ssize_t put = write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (put <= 0)
            return;
        done += static_cast<std::size_t>(put);
    }
}

}  // namespace lumtar::sys
