// Files that a run left unfinished, with the record that says how far it
// went: what the next run of the same command, of its undo and of any
// other command does with them; and runs killed at random moments.
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <random>
#include <thread>

#include "file_io.h"
#include "lumtar_test.h"
#include "record.h"
#include "system.h"

namespace lumtar_test {
namespace {

const std::string kPages = random_bytes(3 * 4096 + 1000, 9);
const std::string kConverted = model_convert("key", kPages);

// The record of a run of "key" stopped after converted bytes, with the
// write of window bytes from there announced, and the samples of the last
// bytes behind.
lumtar::Record record_of(std::int64_t converted, std::size_t window = 0, std::int64_t limit = -1,
                         std::int64_t behind = 0)
{
    lumtar::Record record{false, lumtar::key_check("key"), limit, lumtar::sys::boot_identity(), converted,
                          converted - behind, static_cast<std::uint32_t>(behind + window), ""};
    std::string written = kConverted.substr(static_cast<std::size_t>(record.window_start), record.window);
    record.samples = lumtar::take_samples(reinterpret_cast<const unsigned char *>(written.data()), record.window,
                                          record.window_start);
    return record;
}

// f, converted up to cut, carrying the record.
Scenario unfinished(const std::string &name, std::int64_t cut, const lumtar::Record &record,
                    std::vector<std::string> args, int status, const std::string &err, File after)
{
    after.name = "f";
    after.content = kConverted.substr(0, static_cast<std::size_t>(cut)) + kPages.substr(cut);
    return {name, {after}, std::move(args), status, "", err, false, {}, [record](const std::string &dir) {
                lumtar::InPlaceFile file;
                ASSERT_EQ(file.examine((dir + "/f").c_str()), lumtar::OpenResult::opened);
                ASSERT_EQ(file.open_for_update(), lumtar::OpenResult::opened);
                ASSERT_EQ(file.save_record(lumtar::encode(record)), 0);
            }};
}

std::string first_bytes(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    std::string bytes(64, '\0');
    file.read(bytes.data(), 64);
    return bytes;
}

const std::string kUntold = "\"$/f\": a conversion of it stopped, and how far it went can't be told; skipped.\n";
const std::string kOtherOptions = "\"$/f\": a conversion with other options stopped after 5000 bytes; skipped.\n";

template <class Change>
lumtar::Record changed(lumtar::Record record, Change change)
{
    change(record);
    return record;
}

INSTANTIATE_TEST_SUITE_P(Records, ScenarioTest, testing::ValuesIn(std::vector<Scenario>{
    unfinished("the same command finishes it", 5000, record_of(5000), {"key", "$/f"}, 0,
               "\"$/f\": finishing a conversion that stopped after 5000 bytes.\n", {"", "", 0644, "key", -1, 0, 5000}),
    unfinished("the same -l finishes it", 5000, record_of(5000, 0, 9000), {"-l", "9000", "key", "$/f"}, 0,
               "\"$/f\": finishing a conversion that stopped after 5000 bytes.\n",
               {"", "", 0644, "key", 9000, 0, 5000}),
    unfinished("the same -t finishes it", 5000, changed(record_of(5000), [](auto &r) { r.text_mode = true; }),
               {"-t", "key", "$/f"}, 0,
               "\"$/f\": finishing a conversion that stopped after 5000 bytes.\n", {"", "", 0644, "key", -1, 0, 5000}),
    unfinished("-l at its end undoes it", 5000, record_of(5000), {"-l", "5000", "key", "$/f"}, 0, "",
               {"", "", 0644, "key", 5000}),
    unfinished("another key leaves it", 5000, record_of(5000), {"other", "$/f"}, 2,
               "\"$/f\": a conversion with another key is unfinished; skipped.\n", {"", ""}),
    unfinished("-t leaves it", 5000, record_of(5000), {"-t", "key", "$/f"}, 2, kOtherOptions, {"", ""}),
    unfinished("another -l leaves it", 5000, record_of(5000), {"-l", "6000", "key", "$/f"}, 2, kOtherOptions,
               {"", ""}),
    unfinished("a record of another boot leaves it", 5000, changed(record_of(5000), [](auto &r) { ++r.boot; }),
               {"key", "$/f"}, 2,
               "\"$/f\": a conversion of it was cut short when the system stopped; how far it went can't be told; "
               "skipped.\n", {"", ""}),
    // A write that a killed run left done up to a page boundary, and one
    // done to a byte that no kill leaves.
    unfinished("a write done to a page boundary", 8192, record_of(4096, 8192), {"key", "$/f"}, 0,
               "\"$/f\": finishing a conversion that stopped after 8192 bytes.\n", {"", "", 0644, "key", -1, 0, 8192}),
    unfinished("a write done to another byte", 8000, record_of(4096, 8192), {"key", "$/f"}, 2, kUntold, {"", ""}),
    // Put back as it was meanwhile, it no longer reads as the record left it.
    unfinished("a file put back", 0, record_of(5000, 0, -1, 5000), {"key", "$/f"}, 2, kUntold, {"", ""}),
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
        // A conversion in one write keeps no record: every -l here needs two.
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
