// Files that a run left unfinished, with the record that says how far it
// went: what the next run of the same command, of its undo and of any
// other command does with them; and runs killed at random moments.
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <random>
#include <thread>

#include "file_io.h"
#include "lumtar_test.h"
#include "support/fail_calls.h"
#include "record.h"

namespace lumtar_test {
namespace {

const std::string kPages = random_bytes(3 * 4096 + 1000, 9);
const std::string kConverted = model_convert("key", kPages);

// The file as a dead run of "key" left it: converted up to cut, but for
// [from, to), which the disk lost.
std::string left_at(std::size_t cut, std::size_t from = 0, std::size_t to = 0)
{
    std::string left = kConverted.substr(0, cut) + kPages.substr(cut);
    return left.replace(from, to - from, kPages.substr(from, to - from));
}

// The record of that run, converted up to converted, with the window
// [start, end).
std::string record_of(std::int64_t converted, std::int64_t start, std::int64_t end, std::int64_t limit = -1,
                      bool text_mode = false)
{
    auto window = static_cast<std::size_t>(end - start);
    return lumtar::encode({text_mode, lumtar::key_check("key"), limit, converted, start,
                           static_cast<std::uint32_t>(window),
                           lumtar::take_checks(reinterpret_cast<const unsigned char *>(kConverted.data()) + start,
                                               window, start)});
}

// f, left as it is with the record; after: what the run must leave of it.
Scenario unfinished(const std::string &name, const std::string &left, const std::string &record,
                    std::vector<std::string> args, int status, const std::string &err, File after,
                    std::function<void()> in_child = {})
{
    after.name = "f";
    return {name, {after}, std::move(args), status, status == 1 ? "exit!\n" : "", err, false, std::move(in_child),
            [left, record](const std::string &dir) {
                write_file(dir + "/f", left);
                lumtar::InPlaceFile file;
                ASSERT_EQ(file.examine((dir + "/f").c_str()), lumtar::OpenResult::opened);
                ASSERT_EQ(file.open_for_update(), lumtar::OpenResult::opened);
                ASSERT_EQ(file.save_record(record), 0);
            }};
}

std::string first_bytes(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    std::string bytes(64, '\0');
    file.read(bytes.data(), 64);
    return bytes;
}

const File kFinished{"", kPages, 0644, "key"}, kUndone{"", kPages};
const std::string kUntold = "\"$/f\": a conversion of it stopped, and how far it went can't be told; skipped.\n";
const std::string kOtherOptions = "\"$/f\": a conversion with other options stopped after 5000 bytes; skipped.\n";

std::string finishing(int n)
{
    return "\"$/f\": finishing a conversion that stopped after " + std::to_string(n) + " bytes.\n";
}

INSTANTIATE_TEST_SUITE_P(Records, ScenarioTest, testing::ValuesIn(std::vector<Scenario>{
    unfinished("the same command finishes it", left_at(5000), record_of(5000, 5000, 5000), {"key", "$/f"}, 0,
               finishing(5000), kFinished),
    unfinished("the same -l finishes it", left_at(5000), record_of(5000, 5000, 5000, 9000),
               {"-l", "9000", "key", "$/f"}, 0, finishing(5000), {"", kPages, 0644, "key", 9000}),
    unfinished("the same -t finishes it", left_at(5000), record_of(5000, 5000, 5000, -1, true),
               {"-t", "key", "$/f"}, 0, finishing(5000), kFinished),
    unfinished("-l at its end undoes it", left_at(5000), record_of(5000, 5000, 5000), {"-l", "5000", "key", "$/f"},
               0, "", kUndone),
    unfinished("another key leaves it", left_at(5000), record_of(5000, 5000, 5000), {"other", "$/f"}, 2,
               "\"$/f\": a conversion with another key is unfinished; skipped.\n", {"", left_at(5000)}),
    unfinished("-t leaves it", left_at(5000), record_of(5000, 5000, 5000), {"-t", "key", "$/f"}, 2, kOtherOptions,
               {"", left_at(5000)}),
    unfinished("another -l leaves it", left_at(5000), record_of(5000, 5000, 5000), {"-l", "6000", "key", "$/f"}, 2,
               kOtherOptions, {"", left_at(5000)}),
    // A killed run's write ends at a page boundary, where -l undoes it; the
    // disk of a machine that stopped may lose a page before the last one
    // converted, and tear one inside. The crash double finishes such files.
    unfinished("-l at a page boundary undoes a write cut there", left_at(8192), record_of(4096, 4096, 12288),
               {"-l", "8192", "key", "$/f"}, 0, "", kUndone),
    unfinished("a lost page keeps -l from undoing it", left_at(12288, 4096, 8192), record_of(4096, 0, 13288),
               {"-l", "12288", "key", "$/f"}, 2,
               "\"$/f\": a conversion with other options stopped after 12288 bytes; skipped.\n",
               {"", left_at(12288, 4096, 8192)}),
    unfinished("a disk that fails as the lost page is converted again", left_at(12288, 4096, 8192),
               record_of(4096, 0, 13288), {"key", "$/f"}, 1,
               finishing(12288) + "\"$/f\": I/O error (No space left on device); the conversion stays unfinished.\n",
               {"", left_at(12288, 4096, 8192)}, fail_calls<__NR_pwrite64, ENOSPC>),
    unfinished("a torn page", left_at(8000), record_of(4096, 4096, 12288), {"key", "$/f"}, 2,
               "\"$/f\": a conversion of it was cut short inside the page at byte 4096, which is now neither "
               "converted nor as it was; skipped.\n", {"", left_at(8000)}),
    // Put back as it was meanwhile, it no longer reads as the record left it.
    unfinished("a file put back", kPages, record_of(5000, 0, 5000), {"key", "$/f"}, 2, kUntold, {"", kPages}),
    unfinished("a record cut short", left_at(5000), record_of(5000, 5000, 5000).substr(0, 30), {"key", "$/f"}, 2,
               kUntold, {"", left_at(5000)}),
    // Cut meanwhile inside the window, it has no page there to name as torn.
    unfinished("a file cut short", left_at(8192).substr(0, 10000), record_of(4096, 4096, 12288), {"key", "$/f"}, 2,
               kUntold, {"", left_at(8192).substr(0, 10000)}),
    // A failing disk stops the run at the record that it cannot keep, of a
    // small file that waits in a group, or of a large one.
    {"a failing disk stops a small file at its record", {{"f", kPages}, {"g", kPages}}, {"key", "$/f", "$/g"}, 1,
     "exit!\n", "\"$/f\": I/O error (Input/output error); the file is unchanged.\n", false,
     fail_calls<__NR_fsetxattr, EIO>},
    {"a failing disk stops at the record", {{"f", random_bytes(3 << 20, 4)}}, {"key", "$/f"}, 1, "exit!\n",
     "\"$/f\": I/O error (Input/output error); the file is unchanged.\n", false, fail_calls<__NR_fsetxattr, EIO>},
}));

// Killed at random moments, with or without -l and -t, a run leaves what
// the same command finishes; once more, and the file is as it was.
TEST(KilledTest, TheSameCommandFinishesWhatAKilledRunLeft)
{
    std::mt19937 random(11);
    TempDir dir;
    const std::string f = dir.file("f");
    int finished = 0;
#if defined(__SANITIZE_THREAD__)
    const int runs = 10;  // ThreadSanitizer makes a run some fifty times slower
#else
    const int runs = 50;
#endif
    for (int run = 0; run < runs; ++run) {
        std::string data = random_bytes((2 << 20) + random() % (2 << 20), static_cast<unsigned>(run));
        std::vector<std::string> args = {"k3y", f};
        std::int64_t limit = -1;
        // Every -l here needs two writes, so that the run lasts long enough
        // to be killed midway.
        if (run % 3 == 1) {
            limit = static_cast<std::int64_t>((1 << 20) + 1 + random() % (data.size() - (1 << 20)));
            args.insert(args.begin(), {"-l", std::to_string(limit)});
        } else if (run % 3 == 2) {
            for (char &c : data)
                c = static_cast<char>('a' + static_cast<unsigned char>(c) % 26);
            args.insert(args.begin(), "-t");
        }
        write_file(f, data);
        args.insert(args.begin(), LUMTAR_BINARY);
        pid_t pid = start_process(args, dir.file("out"), dir.file("err"));
        // Once its first bytes are written, a run is at most a few
        // milliseconds from its end.
        siginfo_t ended{};
        while (first_bytes(f) == data.substr(0, 64) &&
               waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 && ended.si_pid == 0)
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 1000));
        kill(pid, SIGKILL);
        wait_process(pid, dir.file("out"), dir.file("err"));
        // Without a record, the file is as it was, or converted whole.
        const std::string left = read_file(f), converted = model_convert("k3y", data, limit);
        ProcessResult again = run_process(args);
        EXPECT_EQ(again.exit_status, 0) << again.err;
        bool finishing = again.err.find("\": finishing a conversion that stopped after ") != std::string::npos;
        finished += finishing;
        EXPECT_TRUE(finishing || left == data || left == converted) << run << ": a part converted, and no record";
        const std::string &want = !finishing && left == converted ? data : converted;
        ASSERT_TRUE(same_bytes(read_file(f), want)) << run << ": " << again.err;
        EXPECT_EQ(run_process(args).err, "");
        ASSERT_TRUE(same_bytes(read_file(f), &want == &data ? converted : data)) << run;
    }
    EXPECT_GE(finished, runs / 5) << "too few runs were killed midway";
}

}  // namespace
}  // namespace lumtar_test
