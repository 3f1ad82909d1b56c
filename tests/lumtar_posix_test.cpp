// The tool's behaviour that only a POSIX system shows: permissions and
// their owners, signals, links, pipes and devices, resource limits, and
// whatever else surrounds a process there.
#include <fcntl.h>
#include <pty.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "file_io.h"
#include "lumtar_test.h"
#include "support/fail_calls.h"

namespace lumtar_test {

namespace {

bool root() { return geteuid() == 0; }

unsigned mode_of(const std::string &path)
{
    return static_cast<unsigned>(std::filesystem::status(path).permissions() & std::filesystem::perms::mask);
}

// Root ignores permissions: the unprivileged user runs it and owns the
// files, or the current user when that is not root.
ProcessOptions unprivileged(ProcessOptions options = {})
{
    options.uid = root() ? kNobody : 0;
    return options;
}

void give_to_nobody(const std::string &path)
{
    if (root()) {
        ASSERT_EQ(chown(path.c_str(), kNobody, kNobody), 0) << path;
    }
}

void limit(int resource, rlim_t value)
{
    rlimit limit{value, value};
    setrlimit(resource, &limit);
}

}  // namespace

void prepare_system(const Scenario &s, const TempDir &dir, ProcessOptions &options)
{
    if (s.as_nobody) {
        give_to_nobody(dir.path());
        options = unprivileged(options);
    }
    for (const File &f : s.files) {
        for (std::string at = dir.file(f.name); s.as_nobody && at != dir.path(); at = at.substr(0, at.rfind('/')))
            give_to_nobody(at);
        ASSERT_EQ(chmod(dir.file(f.name).c_str(), f.mode), 0);
    }
}

void check_system(const Scenario &s, const TempDir &dir)
{
    for (const File &f : s.files)
        EXPECT_EQ(mode_of(dir.file(f.name)), f.mode_after ? f.mode_after : f.mode) << std::oct << f.mode;
}

namespace {

const std::string kProtected = "protected\n";
const std::string kThreeMiB = random_bytes((3 << 20) + 5, 41);
const std::string k300K = kThreeMiB.substr(0, 300000);
const std::string kTestComm = "/proc/" + std::to_string(getpid()) + "/comm";

// A converted file is no longer the program that was trusted: it never
// keeps a set-user-ID or set-group-ID bit, written by its owner or by root.
Scenario read_only(unsigned mode, unsigned after, bool as_nobody = true)
{
    return {"mode " + std::to_string(mode) + (as_nobody ? "" : " as root"), {{"ro", kProtected, mode, "key", -1, after}},
            {"key", "$/ro"}, 0, "", "", as_nobody};
}

// Writes past fsize fail (EFBIG) in the first chunk, in a later one while
// the chunk after it is already transformed, one byte into a chunk, and
// under a long name, which must not cut the count.
Scenario write_error(const std::string &content, std::size_t fsize, const std::string &name = "f")
{
    return {"write error at " + std::to_string(fsize) + " of " + std::to_string(content.size()) + " in " +
                name.substr(0, 9),
            {{name, content, 0400, "key", static_cast<std::int64_t>(fsize)}, {"later", "untouched\n"}},
            {"key", "$/" + name, "$/later"}, 1, "exit!\n",
            "\"$/" + name + "\": I/O error (File too large); the first " + std::to_string(fsize) +
                " bytes are converted.\n", true,
            [fsize] { limit(RLIMIT_FSIZE, fsize); }};
}

// Root's file, in a group of root's choice, with a mode of its choice:
// another owner's, for the unprivileged user.
void give_to_root(const std::string &path, unsigned group, unsigned mode)
{
    if (!root())
        GTEST_SKIP() << "needs root to hand the file to another user";
    // After the owner, which clears the set-ID bits.
    ASSERT_EQ(chown(path.c_str(), 0, group), 0);
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
}

// Standard output and error on a pipe nobody reads any more.
void onto_broken_pipe()
{
    int p[2];
    if (pipe(p) != 0 || close(p[0]) != 0 || dup2(p[1], 1) < 0 || dup2(p[1], 2) < 0)
        _exit(126);
    signal(SIGPIPE, SIG_DFL);
}

void make_special_files(const std::string &dir)
{
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0666), 0);
    ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0777), 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(dir.size() + 5, sizeof addr.sun_path);
    (dir + "/sock").copy(addr.sun_path, sizeof addr.sun_path - 1);
    int s = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    close(s);
}

// The sanitizers' runtime cannot start or end without a thread and address
// space of its own.
void skip_if_sanitized(const std::string & = {})
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' runtime needs a thread and address space of its own";
#endif
}

// The lowest address-space limit, to 64 KiB, under which the program shows
// its help: too low for anything more than its libraries.
rlim_t lowest_starting_limit;

void find_lowest_starting_limit(const std::string &)
{
    skip_if_sanitized();
    rlim_t low = 1 << 20, high = 256 << 20;  // fails, works
    while (high - low > (64 << 10)) {
        rlim_t mid = (low + high) / 2;
        ProcessOptions limited{{"LC_ALL=C"}, 0, false, [mid] { limit(RLIMIT_AS, mid); }};
        (lumtar({"-usage"}, limited).exit_status != 0 ? low : high) = mid;
    }
    lowest_starting_limit = high;
}

INSTANTIATE_TEST_SUITE_P(Posix, ScenarioTest, testing::ValuesIn(std::vector<Scenario>{
    {"help in UTF-8", {}, {"-usage"}, 0,
     "ファイルを暗号化または復号化します。\n \n" + kUsageLine + " \nParameter:\n   -t          テキストモード\n \n"
     "   -l <len>    変換最大長\n \n   <keycode>   変換キー（暗号化キー）\n \n"
     "   <filenames> 変換対象ファイル(複数指定可)\n \nVersion: 1.10\n", "", false, {}, {}, {"LC_ALL=C.UTF-8"}},
    {"help onto a full device", {}, {"-usage"}, 1, "", "can't write the help text (No space left on device).\n",
     false, [] { dup2(open("/dev/full", O_WRONLY), 1); }},
    {"help without standard output", {}, {"-usage"}, 1, "", "can't write the help text (Bad file descriptor).\n",
     false, [] { close(1); }},
    {"a name too long for the system", {}, {"key", "$/" + std::string(300, 'n')}, 2, "",
     "\"$/" + std::string(300, 'n') + "\": name too long for the system; skipped.\n"},
    // Kernel settings call themselves regular files: the tool's own, the test's.
    {"what is not a regular file is skipped without blocking", {{"regular", "regular\n", 0644, "key"}},
     {"key", "$/fifo", "$/sub", "$/sock", "/dev/null", "/proc/self/comm", kTestComm, "$/regular"}, 2, "",
     "\"$/fifo\": not a regular file.\n\"$/sub\": not a regular file.\n\"$/sock\": not a regular file.\n"
     "\"/dev/null\": not a regular file.\n\"/proc/self/comm\": not a regular file.\n\"" + kTestComm +
     "\": not a regular file.\n", false, {}, make_special_files},
    read_only(0444, 0444), read_only(0400, 0400), read_only(0555, 0555), read_only(0440, 0440),
    read_only(04444, 0444), read_only(04755, 0755), read_only(06555, 0555), read_only(02755, 0755),
    read_only(04755, 0755, false), read_only(06555, 0555, false),
    // Nothing was converted: even a set-user-ID bit stays.
    {"the mode comes back after a text mismatch", {{"ro", "", 04555}}, {"-t", "key", "$/ro"}, 1, "exit!\n",
     "\"$/ro\": not a text file or mistaken keycode.\n", true},
    {"a file of another owner cannot be made writable", {{"roots", kProtected}}, {"key", "$/roots"}, 2, "",
     "\"$/roots\": can't change file mode to write.\n", true, {},
     [](const std::string &dir) { give_to_root(dir + "/roots", 0, 0644); }},
    write_error(k300K, 100000), write_error(kThreeMiB, (3 << 19) + 7), write_error(kThreeMiB, (1 << 20) + 1),
    write_error(k300K, 100000, std::string(200, 'd') + "/" + std::string(200, 'e') + "/" + std::string(200, 'f') +
                                    "/" + std::string(200, 'g') + "/" + std::string(200, 'h') + "/f"),
    // A file that took no byte is unchanged, and keeps even a set-user-ID bit.
    {"a write error before any byte", {{"f", kProtected, 04755}}, {"key", "$/f"}, 1, "exit!\n",
     "\"$/f\": I/O error (Input/output error); the file is unchanged.\n", true, fail_calls<__NR_pwrite64, EIO>},
    // Without a record a file is converted as ever, large or small.
    {"a file system without records", {{"f", kThreeMiB, 0644, "key"}, {"g", k300K, 0644, "key"}},
     {"key", "$/g", "$/f"}, 0, "", "", false, fail_calls<__NR_fsetxattr, EOPNOTSUPP>},
    // A file of root's in the unprivileged user's group lets the user write
    // it: only the kernel can clear its set-ID bits then. It clears a
    // set-group-ID bit on the first write, unless the group may not run the
    // file: then the bit stays, and the run says so.
    {"a shared set-group-ID file", {{"f", kProtected, 02775, "key", -1, 0775}}, {"key", "$/f"}, 0, "", "", true, {},
     [](const std::string &dir) { give_to_root(dir + "/f", kNobody, 02775); }},
    // A mode is put back once a group of small files is written: the files
    // of the group after it are converted too.
    {"a set-ID bit that cannot be cleared", {{"f", kProtected, 02766, "key"}, {"g", kProtected, 0644, "key"}},
     {"key", "$/f", "$/g"}, 1, "exit!\n",
     "\"$/f\": can't clear its set-ID bits (Operation not permitted); its mode is now 2766.\n", true, {},
     [](const std::string &dir) { give_to_root(dir + "/f", kNobody, 02766); }},
    // A symbolic link converts its target, which is then the same file
    // under any other name.
    {"the same file under other names", {{"f", kProtected, 0644, "key"}}, {"key", "$/soft", "$/f", "$/hard"}, 2, "",
     "\"$/f\": same file as \"$/soft\"; skipped.\n\"$/hard\": same file as \"$/soft\"; skipped.\n", false, {},
     [](const std::string &dir) {
         std::filesystem::create_hard_link(dir + "/f", dir + "/hard");
         std::filesystem::create_symlink(dir + "/f", dir + "/soft");
     }},
    // A closed standard descriptor would be the next file opened, and a
    // message written into it; a broken pipe neither kills the tool nor
    // keeps it from putting the mode back.
    {"no standard error", {{"binary", kBinary, 0444}}, {"-t", "key", "$/binary"}, 1, "exit!\n", "", true,
     [] { close(2); }},
    {"a broken pipe", {{"binary", kBinary, 0444}}, {"-t", "key", "$/binary"}, 1, "", "", true, onto_broken_pipe},
    // Without a second thread one worker does it all; without a buffer the
    // file is left as it was, and says so.
    {"no thread", {{"f", kThreeMiB, 0444, "key"}}, {"key", "$/f"}, 0, "", "", true, [] { limit(RLIMIT_NPROC, 0); },
     skip_if_sanitized},
    {"no memory", {{"f", kThreeMiB, 0444}}, {"key", "$/f"}, 1, "exit!\n",
     "\"$/f\": not enough memory to convert it; the file is unchanged.\n", true,
     [] { limit(RLIMIT_AS, lowest_starting_limit); }, find_lowest_starting_limit},
    // A running program cannot be opened for writing, whatever its mode.
    {"a file that stays unopenable keeps its mode", {{"sleeper", read_file("/bin/sleep"), 0555}}, {"key", "$/sleeper"},
     2, "", "can't open \"$/sleeper\" to write.\n", false, {}, [](const std::string &dir) {
         start_process({dir + "/sleeper", "5"}, "/dev/null", "/dev/null");
         std::this_thread::sleep_for(std::chrono::milliseconds(200));
     }},
}));

// The key of the runs on files of zeros.
const std::string kKey = "s3cr3t-k3y";

// At least n zeros converted with the key. Modelled once, and no more than
// asked for: the model is slow under the sanitizers.
const std::string &converted_zeros(std::size_t n)
{
    static std::string converted;
    if (converted.size() < n)
        converted = model_convert(kKey, std::string(n, '\0'));
    return converted;
}

// Whether got, once zeros, has its first n bytes converted and only them.
bool converted_exactly(const std::string &got, std::size_t n)
{
    return got.compare(0, n, converted_zeros(n), 0, n) == 0 && got.find_first_not_of('\0', n) == std::string::npos;
}

// The length of got's converted prefix, when it is one (no hole, no bytes
// of neither). Where the keystream is zero both readings agree: the last
// byte that is not zero ends it.
std::optional<std::size_t> converted_prefix(const std::string &got)
{
    std::size_t end = got.find_last_not_of('\0') + 1;
    return converted_exactly(got, end) ? std::optional<std::size_t>(end) : std::nullopt;
}

bool ended(pid_t pid)
{
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
}

// Stops a run where it is; false when it has ended, which is left for
// wait_process to collect.
bool hold(pid_t pid)
{
    kill(pid, SIGSTOP);
    siginfo_t info{};
    waitid(P_PID, static_cast<id_t>(pid), &info, WSTOPPED | WEXITED | WNOWAIT);
    return info.si_code == CLD_STOPPED && waitpid(pid, nullptr, WUNTRACED) == pid;
}

// Stops the run as soon as its first converted bytes are on disk.
bool hold_when_begun(pid_t pid, const BigFile &file)
{
    while (file.read_at(0, 64) == std::string(64, '\0')) {
        if (ended(pid)) {
            ADD_FAILURE() << "lumtar ended before converting anything";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    bool held = hold(pid);
    EXPECT_TRUE(held) << "the whole file went through before it could be stopped";
    return held;
}

// A raw pseudo-terminal of 70 columns, the bytes written the bytes read,
// for a child's standard error; -1 where the system has none.
struct Terminal {
    int controller = -1, end = -1;
    Terminal()
    {
        termios raw{};
        cfmakeraw(&raw);
        winsize size{};
        size.ws_col = 70;
        if (openpty(&controller, &end, nullptr, &raw, &size) != 0)
            controller = end = -1;
        fcntl(controller, F_SETFL, O_NONBLOCK);
    }
    Terminal(const Terminal &) = delete;
    ~Terminal() { close(end), close(controller); }
    // What it shows wait_ms from now that it did not show before.
    std::string read(int wait_ms) const
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(wait_ms));
        std::string got;
        char buf[4096];
        for (ssize_t n; (n = ::read(controller, buf, sizeof buf)) > 0;)
            got.append(buf, static_cast<std::size_t>(n));
        return got;
    }
};

// A second after it stopped, lets the run go on in slices of a few
// milliseconds, each a tick after the last, until the terminal shows two
// lines: the progress looks in wall time, while the conversion moves only
// in the slices. Returns what the terminal showed.
std::string go_on_in_slices(pid_t pid, const Terminal &terminal)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    std::string shown;
    for (int i = 0; i < 8 && std::count(shown.begin(), shown.end(), '\r') < 2; ++i) {
        kill(pid, SIGCONT);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        bool held = hold(pid);
        shown += terminal.read(260);
        if (!held)
            break;
    }
    return shown;
}

// What a terminal of 70 columns shows after the progress, which must be
// two lines or more, each leaving room for a "^C", then one erasure of the
// terminal's width.
std::string after_progress(const std::string &shown)
{
    const std::size_t end = shown.find("\r" + std::string(69, ' ') + "\r");
    if (end == std::string::npos) {
        ADD_FAILURE() << "no progress erased in " << shown;
        return shown;
    }
    int lines = 0;
    for (std::size_t at = 0; at < end; at = shown.find('\r', at + 1), ++lines) {
        std::string line = shown.substr(at, shown.find('\r', at + 1) - at);
        EXPECT_TRUE(line.size() <= 68 && line.find("\r\"") == 0 && line.find("\" ") != std::string::npos &&
                    line.find(" of 128.0 MiB (") != std::string::npos && line.find(" left") != std::string::npos)
            << line;
    }
    EXPECT_GE(lines, 2);
    return shown.substr(end + 71);
}

// A run of lumtar on a read-only file of zeros of the unprivileged user,
// stopped midway, acted on, and let go on. Stopped by a signal, the
// converted part is a prefix of the length the message gives, "-l" with it
// undoes it, and the mode comes back. Without standard error, or onto a
// broken pipe, the file is still an exact prefix; signals the caller
// ignores stay ignored. A mode that cannot be restored is reported after
// whatever ended the run. A run that lasts more than a second, its
// standard error a terminal, shows a line that is rewritten in place, then
// erased before its end or its message; a shorter one, or one redirected,
// or switched off, shows nothing.
struct Midway {
    std::string name;
    std::vector<int> signals;
    int status;
    std::function<void()> in_child = {};
    bool taken_by_root = false;
    bool reported = true;
    std::function<void(const std::string &path)> meanwhile = {};  // acts on the file of the stopped run
    bool long_run = false;                                        // lasts more than a second
    bool on_terminal = false;                                     // its standard error is a terminal
    std::vector<std::string> env = {};
};

void PrintTo(const Midway &m, std::ostream *os) { *os << m.name; }

class MidwayTest : public testing::TestWithParam<Midway> {};

TEST_P(MidwayTest, AStoppedRunLeavesAnExactPrefixAndSaysHowLong)
{
    const Midway &c = GetParam();
    Terminal terminal;
    if (c.taken_by_root && !root())
        GTEST_SKIP() << "only root can take the file from its user midway";
    if (c.on_terminal && terminal.end < 0)
        GTEST_SKIP() << "no pseudo-terminal on this system";
    TempDir dir;
    BigFile file(std::size_t{128} << 20);
    const std::string &path = file.path;
    give_to_nobody(file.dir.path());
    give_to_nobody(path);
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    int error_end = c.on_terminal ? terminal.end : 2;
    ProcessOptions options{c.env, 0, false, [&c, error_end] {
                               dup2(error_end, 2);
                               if (c.in_child)
                                   c.in_child();
                           }};
    const auto began = std::chrono::steady_clock::now();
    pid_t pid = start_process({LUMTAR_BINARY, kKey, path}, dir.file("out"), dir.file("err"), unprivileged(options));
    ASSERT_TRUE(hold_when_begun(pid, file));
    // A test held back by a loaded machine may find the run at its very end.
    if (file.read_at((std::size_t{128} << 20) - 64, 64) != std::string(64, '\0')) {
        kill(pid, SIGKILL);
        wait_process(pid, dir.file("out"), dir.file("err"));
        GTEST_SKIP() << "the whole file went through before the run could be held midway";
    }
    // The process list shows the key blanked: as many empty bytes.
    EXPECT_EQ(read_file("/proc/" + std::to_string(pid) + "/cmdline"),
              LUMTAR_BINARY + std::string(kKey.size() + 2, '\0') + path + '\0');
    if (c.taken_by_root) {
        EXPECT_EQ(chown(path.c_str(), 0, 0), 0);
    }
    if (c.meanwhile)
        c.meanwhile(path);
    const std::size_t size = std::filesystem::file_size(path);
    std::string shown = c.long_run ? go_on_in_slices(pid, terminal) : "";
    // A short run on a terminal is held past the times that the progress
    // looks, within its first second: before a slice, and after it.
    for (int slice = 0; c.on_terminal && !c.long_run && slice < 2; ++slice) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        kill(pid, SIGCONT);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        hold(pid);
    }
    for (int signal_number : c.signals)
        kill(pid, signal_number);
    kill(pid, SIGCONT);
    ProcessResult r = wait_process(pid, dir.file("out"), dir.file("err"));
    // A pseudo-terminal passes the bytes on a moment after they are written.
    for (std::string more; c.on_terminal && !(more = terminal.read(100)).empty();)
        shown += more;
    if (c.on_terminal && !c.long_run && std::chrono::steady_clock::now() - began >= std::chrono::seconds(1))
        GTEST_SKIP() << "the run lasted a second, after which it shows its progress";
    const std::string err = !c.on_terminal ? r.err : c.long_run && c.env.empty() ? after_progress(shown) : shown;
    // The count that the message gives, or where none can be seen, the
    // converted part; a run that was not stopped converts it all.
    std::string got = read_file(path);
    // Where the file system keeps the record of an unfinished conversion,
    // the same command finishes it; a file taken away midway cannot keep
    // the record up, and its run stops at its next write.
    lumtar::InPlaceFile left;
    bool recorded = left.examine(path.c_str()) == lumtar::OpenResult::opened && !left.record().empty();
    left.close();
    bool stopped = c.status > 128 || (c.taken_by_root && recorded);
    std::optional<std::size_t> n = got.size();
    if (stopped)
        n = c.status > 128 && c.reported ? interruption_count(err, path) : converted_prefix(got);
    ASSERT_TRUE(n) << "not a converted prefix";
    EXPECT_TRUE(converted_exactly(got, *n)) << *n;
    EXPECT_EQ(got.size(), size) << "the file did not keep its size";
    std::string want = c.status > 128 ? interruption_message(path, *n, recorded)
                       : stopped ? "\"" + path + "\": I/O error (Permission denied); the first " + std::to_string(*n) +
                                       " bytes are converted.\n"
                                 : "";
    if (c.taken_by_root)
        want += "\"" + path + "\": can't restore its mode (Operation not permitted).\n";
    EXPECT_EQ(r.exit_status, c.status);
    EXPECT_EQ(err, c.reported ? want : "");
    EXPECT_EQ(r.out, c.reported && c.status == 1 ? "exit!\n" : "");
    EXPECT_EQ(*n < size, stopped);
    if (c.taken_by_root)
        return;
    EXPECT_EQ(mode_of(path), 0444u);
    EXPECT_EQ(lumtar({"-l", std::to_string(*n), kKey, path}, unprivileged()).exit_status, 0);
    EXPECT_TRUE(converted_exactly(read_file(path), 0)) << "not undone";
}

// A second run on a file that a first one is converting leaves it alone,
// and the first ends as if it had been alone.
void second_run(const std::string &path)
{
    ProcessResult second = lumtar({kKey, path}, unprivileged());
    EXPECT_EQ(second.exit_status, 2);
    EXPECT_EQ(second.err, "\"" + path + "\": in use by another program; skipped.\n");
}

// A file that another program cuts midway ends where it was cut: the
// chunks already read past the cut are not written back.
void cut_after_converted(const std::string &path)
{
    std::filesystem::resize_file(path, converted_prefix(read_file(path)).value());
}

// Redirected, a long run shows no progress: "ignored signals" is one.
INSTANTIATE_TEST_SUITE_P(Posix, MidwayTest, testing::ValuesIn(std::vector<Midway>{
    {"SIGINT", {SIGINT}, 130}, {"SIGTERM", {SIGTERM}, 143}, {"SIGHUP", {SIGHUP}, 129}, {"SIGQUIT", {SIGQUIT}, 131},
    {"SIGUSR1", {SIGUSR1}, 138}, {"SIGALRM", {SIGALRM}, 142}, {"a real-time signal", {SIGRTMIN}, 128 + SIGRTMIN},
    {"no standard error", {SIGINT}, 130, [] { close(2); }, false, false},
    {"a broken pipe", {SIGINT}, 130, onto_broken_pipe, false, false},
    {"ignored signals", {SIGHUP, SIGINT}, 0, [] { signal(SIGHUP, SIG_IGN), signal(SIGINT, SIG_IGN); }, false, true,
     {}, true},
    {"a mode taken away", {}, 1, {}, true},
    {"a second run skips the file", {}, 0, {}, false, true, second_run},
    {"a file cut midway is not grown back", {}, 0, {}, false, true, cut_after_converted},
    {"progress drawn and erased", {}, 0, {}, false, true, {}, true, true},
    {"an interruption's message on a clean line", {SIGINT}, 130, {}, false, true, {}, true, true},
    {"progress switched off", {}, 0, {}, false, true, {}, true, true, {"LUMTAR_PROGRESS=0"}},
    {"no progress within a second", {}, 0, {}, false, true, {}, false, true},
}));

// /proc hidden under an empty file system, in a mount namespace that only
// this process sees.
bool hide_proc()
{
    return unshare(CLONE_NEWNS) == 0 && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount("none", "/proc", "tmpfs", 0, nullptr) == 0;
}

// The user's read-only file is examined, then its name made a link to a
// file of root's. Whether the user can open the link or not, and whether a
// mode change is needed first or not, the examined file is the only one
// opened for update: through /proc where it is there, else by its name,
// which now reaches another file and is refused. No mode but the examined
// file's changes, and that one comes back.
TEST(FileLayer, ANameSwappedAfterTheExaminationReachesNoOtherFile)
{
    for (bool as_nobody : {false, root()}) {
        for (bool without_proc : {false, root()}) {
            TempDir dir;
            const std::string mine = dir.file("mine"), kept = dir.file("kept"), roots = dir.file("roots");
            write_file(mine, "mine\n");
            write_file(roots, "root's\n");
            ASSERT_EQ(chmod(mine.c_str(), 0444) | chmod(roots.c_str(), 0600), 0);
            std::filesystem::create_hard_link(mine, kept);
            if (as_nobody) {
                ASSERT_EQ(chown(dir.path().c_str(), kNobody, kNobody) | chown(mine.c_str(), kNobody, kNobody), 0);
            }
            // The steps run in a child, without /proc when asked to, in a
            // mount namespace of its own: its exit status is what they
            // return, 125 when /proc could not be hidden.
            pid_t pid = fork();
            if (pid == 0) {
                if (without_proc && !hide_proc())
                    std::_Exit(125);
                if (as_nobody &&
                    (setresgid(kNobody, kNobody, kNobody) != 0 || setresuid(kNobody, kNobody, kNobody) != 0))
                    std::_Exit(126);
                std::_Exit([&] {
                    lumtar::InPlaceFile file;
                    if (file.examine(mine.c_str()) != lumtar::OpenResult::opened)
                        return 10;
                    std::filesystem::remove(mine);
                    std::filesystem::create_symlink(roots, mine);
                    lumtar::OpenResult opened = file.open_for_update();
                    if (opened == lumtar::OpenResult::opened)
                        file.write_at(reinterpret_cast<const unsigned char *>("MINE"), 4, 0);
                    return static_cast<int>(opened);
                }());
            }
            int status = -1;
            waitpid(pid, &status, 0);
            const int result = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            if (result == 125)
                GTEST_SKIP() << "no mount namespace of a test's own here, to hide /proc in";
            EXPECT_EQ(result, static_cast<int>(without_proc ? lumtar::OpenResult::cannot_open
                                                            : lumtar::OpenResult::opened));
            EXPECT_EQ(read_file(kept), without_proc ? "mine\n" : "MINE\n");
            EXPECT_EQ(mode_of(kept), 0444u);
            EXPECT_EQ(read_file(roots), "root's\n");
            EXPECT_EQ(mode_of(roots), 0600u);
        }
    }
}

// Another writer is not supported, but what the tool reports as converted
// is still exactly that: a prefix, with no hole where the end once was.
TEST(SurroundingsTest, AFileThatGrowsMeanwhileGetsNoHole)
{
#if defined(__SANITIZE_THREAD__)
    const int runs = 20;  // ThreadSanitizer makes a run some fifty times slower
#else
    const int runs = 200;
#endif
    TempDir dir;
    std::string f = dir.file("growing"), out = dir.file("out"), err = dir.file("err");
    // Pieces that come more slowly than the tool converts: it meets the
    // end while the next piece is on its way.
    const std::size_t kStart = (1 << 20) + 1000, kPiece = 1 << 19, kMost = 8 << 20;
    const std::string zeros(kMost, '\0');
    for (int i = 0; i < runs; ++i) {
        write_file(f, zeros.substr(0, kStart));
        pid_t pid = start_process({LUMTAR_BINARY, kKey, f}, out, err);
        int fd = open(f.c_str(), O_WRONLY | O_APPEND);
        for (std::size_t size = kStart; size + kPiece <= kMost && !ended(pid); size += kPiece) {
            ASSERT_EQ(write(fd, zeros.data(), kPiece), static_cast<ssize_t>(kPiece));
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        close(fd);
        ASSERT_EQ(wait_process(pid, out, err).exit_status, 0);
        auto n = converted_prefix(read_file(f));
        ASSERT_TRUE(n) << "a hole in run " << i;
        ASSERT_GE(*n, kStart) << "run " << i;
    }
}

// A message that waits on a full pipe when a signal comes is still written
// whole: the interruption does not cut it. The next file is not begun, and
// its message says that it is unchanged.
TEST(SurroundingsTest, AMessageIsWrittenWholeThoughASignalComesWhileItWaits)
{
    TempDir dir;
    std::string f = dir.file("f"), missing = dir.file("missing");
    write_file(f, kBinary);
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    // A pipe of one page, full.
    const int page = fcntl(p[1], F_SETPIPE_SZ, 4096);
    ASSERT_GT(page, 0);
    const std::string filler(static_cast<std::size_t>(page), '.');
    ASSERT_EQ(write(p[1], filler.data(), filler.size()), page);
    ProcessOptions options{{}, 0, false, [&p] { dup2(p[1], 2), close(p[0]); }};
    pid_t pid = start_process({LUMTAR_BINARY, "key", missing, f}, dir.file("out"), dir.file("err"), options);
    close(p[1]);
    std::string wchan;
    for (int i = 0; i < 5000 && wchan.find("pipe_write") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        wchan = read_file("/proc/" + std::to_string(pid) + "/wchan");
    }
    EXPECT_NE(wchan.find("pipe_write"), std::string::npos) << "the message never waited on the pipe";
    kill(pid, SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // The pipe read to its end under a name of its own.
    const std::string written = read_file("/proc/self/fd/" + std::to_string(p[0]));
    close(p[0]);
    EXPECT_EQ(wait_process(pid, dir.file("out"), dir.file("err")).exit_status, 130);
    EXPECT_EQ(written, filler + "\"" + missing + "\": can't change file mode to write.\n\"" + f +
                           "\": interrupted; the file is unchanged.\n");
    EXPECT_EQ(read_file(f), kBinary);
}

}  // namespace
}  // namespace lumtar_test
