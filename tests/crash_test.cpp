// Conversions over a double of the file layer that stops the machine at
// any of its steps: the disk keeps what was synced, of the rest any pages,
// one of them torn now and then, and each record as saved last or before.
// The same command then finishes each file exactly, or names the torn
// page; a file without a record is as it was, or done.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "cipher.h"
#include "convert.h"
#include "file_io.h"
#include "support/cipher_model.h"
#include "support/temp_dir.h"
#include "system.h"

namespace {

// A file on the disk, and what the system holds for it that is not on it
// yet.
struct Stored {
    std::string content, disk;
    std::string record, disk_record;
    std::vector<std::pair<std::size_t, std::size_t>> unsynced;  // writes since the last sync
    bool record_unsynced = false;

    void sync()
    {
        disk = content;
        disk_record = record;
        unsynced.clear();
        record_unsynced = false;
    }

    // What is on the disk after the machine stopped, chosen by random.
    void stop(std::mt19937 &random)
    {
        for (const auto &[offset, n] : unsynced)
            for (std::size_t page = offset / 4096 * 4096; page < offset + n; page += 4096)
                if (random() % 2 == 0) {
                    // The part of the file's page that the write touched; now
                    // and then torn, written up to a 512-byte sector inside.
                    const std::size_t from = std::max(page, offset), to = std::min(page + 4096, offset + n);
                    const std::size_t end = random() % 1024 == 0 ? std::min(to, page + 512 * (1 + random() % 7)) : to;
                    disk.replace(from, std::max(end, from) - from, content, from, std::max(end, from) - from);
                }
        if (record_unsynced && random() % 2 == 0)
            disk_record = record;
        content = disk;
        record = disk_record;
        unsynced.clear();
        record_unsynced = false;
    }
};

// The disk's files by name, and the steps of the machine.
struct Machine {
    std::map<std::string, Stored> files;
    // Steps are counted from 1; 0: none.
    int error_at = 0;  // the step that fails with an I/O error, the machine going on
    int stop_at = 0;   // the step at which the machine stops: it fails, and every later one
    int steps = 0;
    std::string kinds;  // of each step: 'w'rite, 'r'ecord or 's'ync

    // Counts a step: false when it fails.
    bool step(char kind)
    {
        kinds += kind;
        ++steps;
        return steps != error_at && (stop_at == 0 || steps < stop_at);
    }

    void stop(std::mt19937 &random)
    {
        for (auto &[name, file] : files)
            file.stop(random);
        stop_at = error_at = 0;
    }
};

Machine machine;
std::mutex machine_mutex;  // the conversion's two workers step in turn

// The file "f", which most tests convert.
Stored &f() { return machine.files["f"]; }

using Contents = std::map<std::string, std::string>;  // by file name

// The machine with files of these contents on its disk.
void start(const Contents &files)
{
    machine = {};
    for (const auto &[name, data] : files)
        machine.files[name].disk = machine.files[name].content = data;
}

void start(const std::string &data) { start({{"f", data}}); }

}  // namespace

namespace lumtar {

InPlaceFile::~InPlaceFile() = default;
OpenResult InPlaceFile::examine(const char *path)
{
    path_ = path;
    return OpenResult::opened;
}
FileId InPlaceFile::id() const { return {0, std::hash<std::string>()(path_)}; }
OpenResult InPlaceFile::open_for_update() { return OpenResult::opened; }
std::uint64_t InPlaceFile::size() const { return machine.files[path_].content.size(); }
CloseResult InPlaceFile::close() { return {}; }

Transfer InPlaceFile::read_at(unsigned char *buf, std::size_t n, std::uint64_t offset)
{
    std::lock_guard lock(machine_mutex);
    const std::string &content = machine.files[path_].content;
    const auto at = std::min(content.size(), static_cast<std::size_t>(offset));
    return {content.copy(reinterpret_cast<char *>(buf), n, at), 0};
}

Transfer InPlaceFile::write_at(const unsigned char *buf, std::size_t n, std::uint64_t offset)
{
    std::lock_guard lock(machine_mutex);
    // The write that fails goes part of the way, to a byte inside a page,
    // as a full disk leaves it.
    const bool done = machine.step('w');
    const bool failing = machine.steps == machine.error_at || machine.steps == machine.stop_at;
    const std::size_t put = done ? n : failing ? std::min(n, n / 2 + 100) : 0;
    Stored &file = machine.files[path_];
    file.content.replace(static_cast<std::size_t>(offset), put, reinterpret_cast<const char *>(buf), put);
    file.unsynced.emplace_back(static_cast<std::size_t>(offset), put);
    return {put, done ? 0 : EIO};
}

bool InPlaceFile::keeps_records() { return true; }
std::string InPlaceFile::record() const { return machine.files[path_].record; }

int InPlaceFile::save_record(const std::string &record)
{
    std::lock_guard lock(machine_mutex);
    if (!machine.step('r'))
        return EIO;
    machine.files[path_].record = record;
    machine.files[path_].record_unsynced = true;
    return 0;
}

int InPlaceFile::remove_record() { return save_record(""); }

int InPlaceFile::sync()
{
    std::lock_guard lock(machine_mutex);
    if (!machine.step('s'))
        return EIO;
    machine.files[path_].sync();
    return 0;
}

// One file system holds every file.
int InPlaceFile::sync_file_system()
{
    std::lock_guard lock(machine_mutex);
    if (!machine.step('s'))
        return EIO;
    for (auto &[name, file] : machine.files)
        file.sync();
    return 0;
}

}  // namespace lumtar

namespace {

using testing_support::model_convert;
using testing_support::random_bytes;

// Runs the command on the machine's files, stopping where the tool stops;
// what it wrote on the standard error.
std::string run(const lumtar::Options &options, const std::vector<std::string> &names = {"f"})
{
    lumtar::Run files;
    testing::internal::CaptureStderr();
    auto goes_on = [](lumtar::Outcome o) { return o == lumtar::Outcome::done || o == lumtar::Outcome::skipped; };
    std::size_t i = 0;
    while (i < names.size() && goes_on(files.convert({names[i], names[i]}, options)))
        ++i;
    if (i == names.size())
        files.finish();
    return testing::internal::GetCapturedStderr();
}

// Small files, which go in groups, before and after a large one, which
// goes alone, with and without -l and -t, the machine stopped at random
// steps, and every other time the run after too; then the same command
// once more: 1125 crashes, each leaving a disk of its own.
TEST(CrashTest, TheSameCommandFinishesWhatAStoppedMachineLeft)
{
    lumtar::key_text = "k3y";
    std::mt19937 random(7);
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    const int points = 25;  // the sanitizers look for other faults, at many times the cost
#else
    const int points = 250;
#endif
    const std::vector<std::string> names = {"a", "f", "b", "c"};
    int torn = 0, finished = 0;
    for (int kind = 0; kind < 3; ++kind) {
        std::string bytes = random_bytes((5 << 19) + 1000 * kind + 17395, kind);
        if (kind == 2)
            for (char &c : bytes)
                c = static_cast<char>('a' + static_cast<unsigned char>(c) % 26);
        const lumtar::Options options{kind == 2, kind == 1 ? (2 << 20) + 4097 : -1};
        const Contents data = {{"a", bytes.substr(0, 5000)}, {"b", bytes.substr(5000, 12295)},
                               {"c", bytes.substr(17295, 100)}, {"f", bytes.substr(17395)}};
        Contents converted;
        for (const auto &[name, d] : data)
            converted[name] = model_convert("k3y", d, options.limit);
        start(data);
        run(options, names);
        for (const auto &name : names)
            ASSERT_TRUE(machine.files[name].content == converted[name]) << name;
        for (int point = 0; point < points; ++point) {
            start(data);
            Contents target;  // what the conversion under way makes of each file
            for (int runs = 2 + point % 2; runs > 0; --runs) {
                // A run on a file without a record begins a conversion of its
                // own: the file is as it was, or done.
                std::map<std::string, bool> recorded;
                for (const auto &name : names) {
                    const Stored &file = machine.files[name];
                    recorded[name] = !file.record.empty();
                    if (!recorded[name]) {
                        ASSERT_TRUE(file.content == data.at(name) || file.content == converted[name])
                            << point << ": " << name << " has no record";
                        target[name] = file.content == data.at(name) ? converted[name] : data.at(name);
                    }
                }
                // The machine stops at any step of the run, as a run on a copy
                // of it counts them, or past the last: the run is over, and
                // what it did not sync is lost. Half of the time the step is
                // a record's or a sync, which order the rest; one time in
                // four, an earlier step fails with an I/O error.
                if (runs > 1) {
                    const Machine before = machine;
                    run(options, names);
                    std::vector<int> ordering;
                    for (std::size_t i = before.kinds.size(); i < machine.kinds.size(); ++i)
                        if (machine.kinds[i] != 'w')
                            ordering.push_back(static_cast<int>(i - before.kinds.size()) + 1);
                    const auto steps = static_cast<unsigned>(machine.steps - before.steps);
                    machine = before;
                    machine.steps = 0;
                    machine.stop_at = ordering.empty() || random() % 2 ? 1 + static_cast<int>(random() % (steps + 1))
                                                   : ordering[random() % ordering.size()];
                    machine.error_at = random() % 4 == 0 ? 1 + static_cast<int>(random() % machine.stop_at) : 0;
                }
                const Machine left = machine;
                const std::string err = run(options, names);
                if (runs > 1) {
                    machine.stop(random);
                    continue;
                }
                for (const auto &name : names) {
                    const Stored &file = machine.files[name];
                    const std::string torn_page = "\"" + name + "\": a conversion of it was cut short inside the "
                                                  "page at byte ";
                    if (const std::size_t at = err.find(torn_page); at != std::string::npos) {
                        // The page it names reads neither way, and nothing was written.
                        const std::size_t page = std::stoul(err.substr(at + torn_page.size()));
                        const std::string &before = left.files.at(name).content;
                        EXPECT_TRUE(before.compare(page, 4096, data.at(name), page, 4096) != 0 &&
                                    before.compare(page, 4096, converted[name], page, 4096) != 0) << point << ": " << err;
                        EXPECT_TRUE(file.content == before) << point;
                        ++torn;
                    } else {
                        EXPECT_TRUE(file.content == target[name] && file.record.empty()) << point << ": " << name
                                                                                         << ": " << err;
                        finished += recorded[name];
                    }
                }
            }
        }
    }
    // Of the crashes, some leave a torn page, and most a record to finish.
    EXPECT_GE(torn, points / 40) << finished;
    EXPECT_GE(finished, points * 3 / 2) << torn;
}

// An undo that fails before it saves or writes anything leaves the record
// of the conversion that it was to undo, which the command that began it
// can still finish.
TEST(CrashTest, AnUndoStoppedBeforeItBeginsKeepsTheRecord)
{
    lumtar::key_text = "k3y";
    const std::string data = random_bytes(5 << 19, 9);
    start(data);
    machine.error_at = 6;  // the second write, which stops inside a page
    const std::string err = run({});
    const std::size_t at = err.find("; the first ");
    ASSERT_NE(at, std::string::npos) << err;
    const std::string n = err.substr(at + 12, err.find(' ', at + 12) - at - 12);
    machine.error_at = machine.steps + 2;  // the undo's first record, after the sync that begins it
    run({false, std::stoll(n)});
    EXPECT_EQ(run({}), "\"f\": finishing a conversion that stopped after " + n + " bytes.\n");
    EXPECT_TRUE(f().content == model_convert("k3y", data) && f().record.empty());
}

// A conversion taken up inside a page, where a full disk stopped it, still
// leaves records that tell every page when the machine stops during it.
TEST(CrashTest, AConversionTakenUpInsideAPageCanStopAgain)
{
    lumtar::key_text = "k3y";
    const std::string data = random_bytes(5 << 19, 10);
    start(data);
    machine.error_at = 3;  // the first write, which stops inside a page
    run({});
    std::mt19937 random(1);
    machine.steps = machine.error_at = 0;
    // After a sync, a record, a sync, the first write, a record, a sync and
    // the second write, the machine stops at the next record.
    machine.stop_at = 8;
    run({});
    machine.stop(random);
    EXPECT_EQ(run({}).find("\"f\": finishing a conversion that stopped after "), 0u);
    EXPECT_TRUE(f().content == model_convert("k3y", data) && f().record.empty());
}

// A write of a group that an error cuts short inside a page leaves the
// exact record once that part is on the disk: the same command finishes
// the file from there.
TEST(CrashTest, AGroupsWriteCutShortIsFinishedWhereItStopped)
{
    lumtar::key_text = "k3y";
    const std::string data = random_bytes(3 * 4096 + 7, 12);
    start({{"a", data}});
    machine.error_at = 3;  // after the record and the sync, the write
    EXPECT_EQ(run({}, {"a"}), "\"a\": I/O error (Input/output error); the first 6247 bytes are converted.\n");
    EXPECT_EQ(run({}, {"a"}), "\"a\": finishing a conversion that stopped after 6247 bytes.\n");
    EXPECT_TRUE(machine.files["a"].content == model_convert("k3y", data) && machine.files["a"].record.empty());
}

#ifndef _WIN32
// An interruption while a group of small files waits stops the run before
// the group's first write: that file says it is unchanged, and no file of
// the group keeps its record. (Windows tells of one through a console,
// which the tests there have none of.)
TEST(CrashDeathTest, AnInterruptionWhileAGroupWaitsLeavesItAsItWas)
{
    const auto interrupted_group = [] {
        lumtar::key_text = "k3y";
        start({{"a", "first\n"}, {"b", "second\n"}});
        lumtar::sys::catch_interruptions();
        lumtar::Run files;
        files.convert({"a", "a"}, {});
        files.convert({"b", "b"}, {});
        std::raise(SIGINT);
        const bool stopped = files.finish() == lumtar::Outcome::interrupted;
        const Stored &a = machine.files["a"], &b = machine.files["b"];
        std::_Exit(stopped && a.content == "first\n" && b.content == "second\n" && a.record.empty() &&
                   b.record.empty() ? 0 : 1);
    };
    EXPECT_EXIT(interrupted_group(), testing::ExitedWithCode(0),
                testing::Matcher<const std::string &>("\"a\": interrupted; the file is unchanged.\n"));
}
#endif

}  // namespace
