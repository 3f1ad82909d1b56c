// The tool's behaviour that only a POSIX system shows: permissions and
// their owners, signals, links, pipes and devices, resource limits, and
// whatever else surrounds a process there.
#include "lumtar_test.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <thread>

namespace lumtar_test {
namespace {

using testing_support::kNobody;

mode_t mode_of(const std::string &path)
{
    struct stat st;
    EXPECT_EQ(stat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
}

// Root ignores permissions: permission tests run as an unprivileged user
// who owns the files, or as the current user when that is not root.
ProcessOptions unprivileged()
{
    ProcessOptions options;
    if (geteuid() == 0)
        options.uid = kNobody;
    return options;
}

void give_to_unprivileged(const std::string &path)
{
    if (geteuid() == 0) {
        ASSERT_EQ(chown(path.c_str(), kNobody, kNobody), 0);
    }
}

ProcessOptions in_locale(const std::string &locale)
{
    ProcessOptions options;
    options.env = {"LC_ALL=" + locale};
    return options;
}

// ---- Help and files -----------------------------------------------------

TEST(HelpTest, Utf8LocaleWritesUtf8)
{
    ProcessResult r = lumtar({"-usage"}, in_locale("C.UTF-8"));
    const std::string expected =
        "ファイルを暗号化または復号化します。\n"
        " \n"
        "Usage: lumtar [-t] [-l <len>] <keycode> <filenames>\n"
        " \n"
        "Parameter:\n"
        "   -t          テキストモード\n"
        " \n"
        "   -l <len>    変換最大長\n"
        " \n"
        "   <keycode>   変換キー（暗号化キー）\n"
        " \n"
        "   <filenames> 変換対象ファイル(複数指定可)\n"
        " \n"
        "Version: 1.10\n";
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, expected);
}

TEST(ConvertTest, SymbolicLinkConvertsItsTarget)
{
    TempDir dir;
    std::string target = dir.file("target"), link = dir.file("link");
    write_file(target, "through a link\n");
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    EXPECT_EQ(lumtar({"key", link}).exit_status, 0);
    EXPECT_EQ(read_file(target), model_convert("key", "through a link\n"));
}

TEST(ConvertTest, NonRegularFilesAreSkippedWithoutBlocking)
{
    TempDir dir;
    std::string fifo = dir.file("fifo"), sub = dir.file("sub"), sock = dir.file("sock");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    ASSERT_EQ(mkdir(sub.c_str(), 0777), 0);
    int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(sock.size(), sizeof addr.sun_path);
    std::copy(sock.begin(), sock.end(), addr.sun_path);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    // Kernel settings that call themselves regular files, the tool's own
    // and the test's.
    std::string comm = "/proc/" + std::to_string(getpid()) + "/comm", comm_before = read_file(comm);
    expect_refused_as_not_regular({fifo, sub, sock, "/dev/null", "/proc/self/comm", comm}, dir);
    close(s);
    EXPECT_EQ(read_file(comm), comm_before);
}

// ---- Permissions -----------------------------------------------------------

// The mode comes back, but a converted file is no longer the program that
// was trusted: it never keeps a set-user-ID or set-group-ID bit, written by
// its owner or by root.
TEST(PermissionTest, ReadOnlyFilesAreConvertedAndTheirModeRestored)
{
    struct Case {
        mode_t mode, after;
        bool as_root;
    };
    const Case cases[] = {
        {0444, 0444, false},  {0400, 0400, false},  {0555, 0555, false},  {0440, 0440, false},
        {04444, 0444, false}, {04755, 0755, false}, {06555, 0555, false}, {02755, 0755, false},
        {04755, 0755, true},  {06555, 0555, true},
    };
    TempDir dir;
    give_to_unprivileged(dir.path());
    for (const auto &c : cases) {
        if (c.as_root && geteuid() != 0)
            continue;
        std::string f = dir.file("ro");
        write_file(f, "protected\n");
        if (!c.as_root)
            give_to_unprivileged(f);
        ASSERT_EQ(chmod(f.c_str(), c.mode), 0);
        ProcessResult r = lumtar({"key", f}, c.as_root ? ProcessOptions{} : unprivileged());
        EXPECT_EQ(r.exit_status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(mode_of(f), c.after) << std::oct << c.mode;
        EXPECT_EQ(read_file(f), model_convert("key", "protected\n")) << std::oct << c.mode;
        ASSERT_EQ(unlink(f.c_str()), 0);
    }
}

TEST(PermissionTest, ModeIsRestoredAfterATextMismatch)
{
    TempDir dir;
    give_to_unprivileged(dir.path());
    std::string f = dir.file("ro");
    write_file(f, "");
    give_to_unprivileged(f);
    // Nothing was converted: even a set-user-ID bit stays.
    ASSERT_EQ(chmod(f.c_str(), 04555), 0);
    ProcessResult r = lumtar({"-t", "key", f}, unprivileged());
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(mode_of(f), 04555u);
}

TEST(PermissionTest, FileOfAnotherOwnerCannotBeMadeWritable)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to hand the file to another user";
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    std::string f = dir.file("roots");
    write_file(f, "not yours\n");
    ASSERT_EQ(chmod(f.c_str(), 0644), 0);
    ProcessResult r = lumtar({"key", f}, unprivileged());
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "\"" + f + "\": can't change file mode to write.\n");
    EXPECT_EQ(read_file(f), "not yours\n");
    EXPECT_EQ(mode_of(f), 0644u);
}

TEST(PermissionTest, FileThatStaysUnopenableKeepsItsMode)
{
    // A running program cannot be opened for writing, whatever its mode.
    TempDir dir;
    std::string program = dir.file("sleeper");
    write_file(program, read_file("/bin/sleep"));
    ASSERT_EQ(chmod(program.c_str(), 0555), 0);
    pid_t pid = testing_support::start_process({program, "30"}, dir.file("out"), dir.file("err"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ProcessResult r = lumtar({"key", program});
    kill(pid, SIGKILL);
    testing_support::wait_process(pid, dir.file("out"), dir.file("err"));
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "can't open \"" + program + "\" to write.\n");
    EXPECT_EQ(mode_of(program), 0555u);
    EXPECT_TRUE(same_bytes(read_file(program), read_file("/bin/sleep")));
}

// ---- Interruption and I/O errors -------------------------------------------

// The length n when got is plain's conversion before n and plain from n on:
// a converted prefix and nothing else. Empty when it is not (a hole, or
// bytes of neither). Where a keystream byte is 0 both readings agree.
std::optional<std::size_t> converted_prefix(const std::string &got, const std::string &plain,
                                            const std::string &converted)
{
    if (got.size() != plain.size() || converted.size() < got.size())
        return std::nullopt;
    auto end = std::mismatch(got.begin(), got.end(), converted.begin()).first;
    auto n = end - got.begin();
    if (!std::equal(end, got.end(), plain.begin() + n))
        return std::nullopt;
    return static_cast<std::size_t>(n);
}

// The same for a big file of zeros, read in steps.
std::optional<std::uint64_t> converted_zeros(const BigFile &file, std::uint64_t size, const std::string &key)
{
    const std::size_t kStep = 16 << 20;
    testing_support::CipherModel model(key);
    std::optional<std::uint64_t> end;
    for (std::uint64_t at = 0; at < size; at += kStep) {
        std::size_t len = static_cast<std::size_t>(std::min<std::uint64_t>(kStep, size - at));
        std::string got = file.read_at(at, len), zeros(len, '\0');
        if (end) {
            if (got != zeros)
                return std::nullopt;
            continue;
        }
        std::string converted = zeros;
        for (std::size_t b = 0; b < len; b += 2048)
            model.block(reinterpret_cast<unsigned char *>(&converted[b]),
                        static_cast<int>(std::min<std::size_t>(2048, len - b)), static_cast<std::int64_t>(at + b), -1);
        auto n = converted_prefix(got, zeros, converted);
        if (!n)
            return std::nullopt;
        if (*n < len)
            end = at + *n;
    }
    return end.value_or(size);
}

// A run of lumtar on a big file of zeros, stopped (SIGSTOP) as soon as its
// first converted bytes are on disk, so that a test can act in the middle
// of a conversion and then let it go on.
class MidwayRun {
public:
    static constexpr std::uint64_t kSize = std::uint64_t{128} << 20;

    explicit MidwayRun(const std::string &key, const ProcessOptions &options = unprivileged())
        : file_(dir_, kSize), key_(key)
    {
        give_to_unprivileged(file_.path());
        EXPECT_EQ(chmod(file_.path().c_str(), 0444), 0);
        pid_ = testing_support::start_process({LUMTAR_BINARY, key, file_.path()}, dir_.file("out"), dir_.file("err"),
                                              options);
        while (file_.read_at(0, 64) == std::string(64, '\0')) {
            siginfo_t info{};
            if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0) {
                ADD_FAILURE() << "lumtar ended before converting anything";
                return;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        kill(pid_, SIGSTOP);
        int status = 0;
        waitpid(pid_, &status, WUNTRACED);
        stopped_ = WIFSTOPPED(status);
        EXPECT_TRUE(stopped_) << "the whole file went through before it could be stopped";
    }

    bool stopped() const { return stopped_; }
    pid_t pid() const { return pid_; }
    const std::string &path() const { return file_.path(); }

    // Lets the run go on, after sending the signals given, and waits for it.
    ProcessResult finish(std::initializer_list<int> signals = {})
    {
        for (int signal_number : signals)
            kill(pid_, signal_number);
        kill(pid_, SIGCONT);
        return testing_support::wait_process(pid_, dir_.file("out"), dir_.file("err"));
    }

    std::optional<std::uint64_t> converted() const { return converted_zeros(file_, kSize, key_); }

private:
    TempDir dir_;
    BigFile file_;
    std::string key_;
    pid_t pid_ = -1;
    bool stopped_ = false;
};

std::string command_line_of(pid_t pid)
{
    return read_file("/proc/" + std::to_string(pid) + "/cmdline");
}

// A read-only file of an unprivileged user, interrupted by each signal: the
// converted part is a prefix of the length the message gives, "-l" with it
// undoes it, and the mode comes back.
TEST(InterruptTest, StopsWithAConvertedPrefixThatMinusLUndoes)
{
    const std::string key = "s3cr3t-k3y";
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        MidwayRun run(key);
        ASSERT_TRUE(run.stopped());
        std::string command_line = command_line_of(run.pid());
        ProcessResult r = run.finish({signal_number});

        EXPECT_EQ(command_line.find(key), std::string::npos) << "the key is still in the process list";
        EXPECT_EQ(r.exit_status, 128 + signal_number);
        auto n = interruption_count(r.err, run.path());
        ASSERT_TRUE(n) << r.err;
        EXPECT_GT(*n, 0u);
        EXPECT_LT(*n, MidwayRun::kSize);
        EXPECT_EQ(run.converted(), n);
        EXPECT_EQ(mode_of(run.path()), 0444u);

        r = lumtar({"-l", std::to_string(*n), key, run.path()}, unprivileged());
        EXPECT_EQ(r.exit_status, 0) << r.err;
        EXPECT_EQ(run.converted(), 0u);
        EXPECT_EQ(mode_of(run.path()), 0444u);
    }
}

TEST(IoErrorTest, WriteErrorReportsTheExactConvertedCount)
{
    struct Case {
        std::size_t size;
        std::size_t fsize_limit;  // writes past this offset fail with EFBIG
        std::size_t name_length;  // about; long names must not cut the count
    };
    // Inside the first chunk, in a later one while the chunk after it is
    // already read and transformed, and one byte into a chunk.
    const Case cases[] = {{300000, 100000, 1},
                          {(3 << 20) + 5, (3 << 19) + 7, 1},
                          {(3 << 20) + 5, (1 << 20) + 1, 1},
                          {300000, 100000, 1000}};
    for (const auto &c : cases) {
        TempDir dir;
        std::string f = dir.path();
        while (f.size() < c.name_length) {
            f += "/" + std::string(200, 'd');
            ASSERT_EQ(mkdir(f.c_str(), 0777), 0);
        }
        f += "/f";
        std::string later = dir.file("later");
        std::string data = random_bytes(c.size, 21);
        write_file(f, data);
        write_file(later, "untouched\n");
        give_to_unprivileged(dir.path());
        give_to_unprivileged(f);
        ASSERT_EQ(chmod(f.c_str(), 0400), 0);
        ProcessOptions limited = unprivileged();
        limited.in_child = [&c] {
            rlimit limit{c.fsize_limit, c.fsize_limit};
            setrlimit(RLIMIT_FSIZE, &limit);
        };
        ProcessResult r = lumtar({"key", f, later}, limited);
        EXPECT_EQ(r.exit_status, 1);
        EXPECT_EQ(r.err, "\"" + f + "\": I/O error (File too large); the first " + std::to_string(c.fsize_limit) +
                             " bytes are converted.\n");
        EXPECT_EQ(r.out, "exit!\n");
        std::string converted = model_convert("key", data);
        EXPECT_TRUE(same_bytes(read_file(f), converted.substr(0, c.fsize_limit) + data.substr(c.fsize_limit)));
        EXPECT_EQ(read_file(later), "untouched\n");
        EXPECT_EQ(mode_of(f), 0400u);

        r = lumtar({"-l", std::to_string(c.fsize_limit), "key", f}, unprivileged());
        EXPECT_EQ(r.exit_status, 0);
        EXPECT_TRUE(same_bytes(read_file(f), data));
    }
}

// ---- Whatever surrounds the tool --------------------------------------------

// The sanitizers build the tool as they build the tests. Their runtime
// needs threads and address space of its own, which the limits of some
// tests take away, and ThreadSanitizer makes a run some fifty times slower:
// a few runs show its data races.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#if defined(__SANITIZE_THREAD__)
constexpr int kRaceRuns = 20;
#else
constexpr int kRaceRuns = 200;
#endif

// A binary file (random bytes stay binary under any keystream) that text
// mode refuses, owned by the unprivileged user and read-only.
std::string refused_file(const TempDir &dir, mode_t mode = 0444)
{
    give_to_unprivileged(dir.path());
    std::string f = dir.file("binary");
    write_file(f, random_bytes(5000, 31));
    give_to_unprivileged(f);
    EXPECT_EQ(chmod(f.c_str(), mode), 0);
    return f;
}

// The child's standard output and error go to a pipe nobody reads any more.
void onto_broken_pipe()
{
    int p[2];
    if (pipe(p) != 0)
        _exit(126);
    close(p[0]);
    dup2(p[1], STDOUT_FILENO);
    dup2(p[1], STDERR_FILENO);
    signal(SIGPIPE, SIG_DFL);
}

// A closed standard descriptor would be the next file opened, and a message
// or "exit!" would be written into it. A broken pipe neither kills the tool
// nor keeps it from putting the mode back.
TEST(SurroundingsTest, ClosedOrBrokenStandardStreamsNeverCostTheFile)
{
    struct Case {
        const char *what;
        std::function<void()> in_child;
    };
    const Case cases[] = {
        {"no standard error", [] { close(STDERR_FILENO); }},
        {"a broken pipe", onto_broken_pipe},
    };
    for (const auto &c : cases) {
        TempDir dir;
        std::string f = refused_file(dir);
        std::string data = read_file(f);
        ProcessOptions options = unprivileged();
        options.in_child = c.in_child;
        ProcessResult r = lumtar({"-t", "key", f}, options);
        EXPECT_EQ(r.exit_status, 1) << c.what;
        EXPECT_TRUE(same_bytes(read_file(f), data)) << c.what;
        EXPECT_EQ(mode_of(f), 0444u) << c.what;

        MidwayRun run("key", options);
        ASSERT_TRUE(run.stopped()) << c.what;
        EXPECT_EQ(run.finish({SIGINT}).exit_status, 130) << c.what;
        EXPECT_TRUE(run.converted()) << c.what << ": not a converted prefix";
        EXPECT_EQ(mode_of(run.path()), 0444u) << c.what;
    }
}

TEST(SurroundingsTest, SignalsIgnoredByTheCallerStayIgnored)
{
    ProcessOptions options = unprivileged();
    options.in_child = [] { signal(SIGHUP, SIG_IGN), signal(SIGINT, SIG_IGN); };
    MidwayRun run("key", options);
    ASSERT_TRUE(run.stopped());
    ProcessResult r = run.finish({SIGHUP, SIGINT});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(run.converted(), MidwayRun::kSize);
    EXPECT_EQ(mode_of(run.path()), 0444u);
}

// The lowest address-space limit, to 64 KiB, under which the program
// shows its help: too low for anything more than its libraries.
rlim_t lowest_starting_limit(const std::vector<std::string> &args, ProcessOptions options)
{
    rlim_t low = 1 << 20, high = 256 << 20;  // fails, works
    while (high - low > (64 << 10)) {
        rlim_t mid = (low + high) / 2;
        options.in_child = [mid] {
            rlimit limit{mid, mid};
            setrlimit(RLIMIT_AS, &limit);
        };
        (lumtar(args, options).exit_status != 0 ? low : high) = mid;
    }
    return high;
}

// Without a second thread one worker does it all; without a buffer the
// file is left as it was, and says so.
TEST(SurroundingsTest, WithoutAThreadOrMemoryNothingIsLost)
{
    if (kSanitized)
        GTEST_SKIP() << "the sanitizers' runtime cannot start or end without a thread and memory of its own";
    TempDir dir;
    give_to_unprivileged(dir.path());
    std::string f = dir.file("f");
    std::string data = random_bytes((3 << 20) + 5, 41);
    write_file(f, data);
    give_to_unprivileged(f);
    ASSERT_EQ(chmod(f.c_str(), 0444), 0);
    auto run_limited = [&f](int resource, rlim_t value) {
        ProcessOptions limited = unprivileged();
        limited.in_child = [resource, value] {
            rlimit limit{value, value};
            setrlimit(resource, &limit);
        };
        return lumtar({"key", f}, limited);
    };

    // No process more for the user: no thread.
    ProcessResult r = run_limited(RLIMIT_NPROC, 0);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_TRUE(same_bytes(read_file(f), model_convert("key", data)));
    EXPECT_EQ(mode_of(f), 0444u);

    data = read_file(f);
    r = run_limited(RLIMIT_AS, lowest_starting_limit({"-usage"}, in_locale("C")));
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, "\"" + f + "\": not enough memory to convert it; the file is unchanged.\n");
    EXPECT_EQ(r.out, "exit!\n");
    EXPECT_TRUE(same_bytes(read_file(f), data));
    EXPECT_EQ(mode_of(f), 0444u);
}

// Another writer is not supported, but what the tool reports as converted
// is still exactly that: a prefix, with no hole where the end once was.
TEST(SurroundingsTest, AFileThatGrowsMeanwhileGetsNoHole)
{
    TempDir dir;
    std::string f = dir.file("growing"), out = dir.file("out"), err = dir.file("err");
    // Pieces that come more slowly than the tool converts: it meets the
    // end while the next piece is on its way.
    const std::size_t kStart = (1 << 20) + 1000, kPiece = 1 << 19, kMost = 8 << 20;
    const std::string zeros(kMost, '\0'), converted = model_convert("key", zeros);
    for (int i = 0; i < kRaceRuns; ++i) {
        write_file(f, zeros.substr(0, kStart));
        pid_t pid = testing_support::start_process({LUMTAR_BINARY, "key", f}, out, err);
        int fd = open(f.c_str(), O_WRONLY | O_APPEND);
        siginfo_t info{};
        for (std::size_t size = kStart; size + kPiece <= kMost; size += kPiece) {
            ASSERT_EQ(write(fd, zeros.data(), kPiece), static_cast<ssize_t>(kPiece));
            if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0)
                break;
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        close(fd);
        ProcessResult r = testing_support::wait_process(pid, out, err);
        ASSERT_EQ(r.exit_status, 0) << r.err;
        std::string got = read_file(f);
        auto n = converted_prefix(got, zeros.substr(0, got.size()), converted);
        ASSERT_TRUE(n) << "a hole in run " << i;
        ASSERT_GE(*n, kStart) << "run " << i;
    }
}

TEST(SurroundingsTest, AModeThatCannotBeRestoredIsReported)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to take the file from its user midway";
    for (bool interrupted : {false, true}) {
        MidwayRun run("key");
        ASSERT_TRUE(run.stopped());
        ASSERT_EQ(chown(run.path().c_str(), 0, 0), 0);
        ProcessResult r = interrupted ? run.finish({SIGINT}) : run.finish();
        const std::string mode_message = "\"" + run.path() + "\": can't restore its mode (Operation not permitted).\n";
        if (interrupted) {
            EXPECT_EQ(r.exit_status, 130);
            auto n = interruption_count(r.err.substr(0, r.err.size() - mode_message.size()), run.path());
            EXPECT_TRUE(n) << r.err;
            EXPECT_EQ(run.converted(), n);
        } else {
            EXPECT_EQ(r.exit_status, 1);
            EXPECT_EQ(r.out, "exit!\n");
            EXPECT_EQ(run.converted(), MidwayRun::kSize);
        }
        EXPECT_EQ(r.err.substr(r.err.size() - std::min(r.err.size(), mode_message.size())), mode_message);
    }
}

// A message that waits on a full pipe when a signal comes is still written
// whole: the interruption does not cut it.
TEST(SurroundingsTest, AMessageIsWrittenWholeThoughASignalComesWhileItWaits)
{
    TempDir dir;
    std::string f = refused_file(dir, 0644);
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    ASSERT_EQ(fcntl(p[1], F_SETFL, O_NONBLOCK), 0);
    std::string filler;
    for (std::string piece(4096, '.'); write(p[1], piece.data(), piece.size()) > 0;)
        filler += piece;
    ASSERT_EQ(fcntl(p[1], F_SETFL, 0), 0);
    ProcessOptions options;
    options.in_child = [&p] { dup2(p[1], STDERR_FILENO), close(p[0]); };
    pid_t pid = testing_support::start_process({LUMTAR_BINARY, "-t", "key", f}, dir.file("out"), dir.file("err"),
                                               options);
    close(p[1]);
    std::string wchan;
    for (int i = 0; i < 5000 && wchan.find("pipe_write") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        wchan = read_file("/proc/" + std::to_string(pid) + "/wchan");
    }
    EXPECT_NE(wchan.find("pipe_write"), std::string::npos) << "the message never waited on the pipe";
    kill(pid, SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::string written;
    char buf[4096];
    for (ssize_t n; (n = read(p[0], buf, sizeof buf)) > 0;)
        written.append(buf, static_cast<std::size_t>(n));
    close(p[0]);
    ProcessResult r = testing_support::wait_process(pid, dir.file("out"), dir.file("err"));
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(written, filler + "\"" + f + "\": not a text file or mistaken keycode.\n");
}

TEST(HelpTest, AHelpThatCannotBeWrittenIsAnError)
{
    struct Case {
        const char *reason;
        std::function<void()> in_child;
    };
    const Case cases[] = {
        {"No space left on device", [] { dup2(open("/dev/full", O_WRONLY), STDOUT_FILENO); }},
        {"Bad file descriptor", [] { close(STDOUT_FILENO); }},
    };
    for (const auto &c : cases) {
        ProcessOptions options;
        options.in_child = c.in_child;
        ProcessResult r = lumtar({"-usage"}, options);
        EXPECT_EQ(r.exit_status, 1);
        EXPECT_EQ(r.err, std::string("can't write the help text (") + c.reason + ").\n");
    }
}

}  // namespace
}  // namespace lumtar_test
