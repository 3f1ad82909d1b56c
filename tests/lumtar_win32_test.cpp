// The tool's behaviour that only Windows shows: the read-only attribute,
// device names, and the console's events.
#include <windows.h>

#include <filesystem>

#include "lumtar_test.h"

namespace lumtar_test {

namespace {

constexpr DWORD kReadOnlyHidden = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;

// What the rows hold open through the run, as another program would.
std::vector<HANDLE> held;

HANDLE hold(const std::string &path, DWORD share)
{
    held.push_back(CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_NE(held.back(), INVALID_HANDLE_VALUE) << path;
    return held.back();
}

}  // namespace

// A file whose mode lacks the owner's write bit is read-only and hidden,
// and ends so.
void prepare_system(const Scenario &s, const TempDir &dir, ProcessOptions &)
{
    for (const File &f : s.files)
        ASSERT_TRUE(f.mode & 0200 || SetFileAttributesA(dir.file(f.name).c_str(), kReadOnlyHidden)) << f.name;
}

void check_system(const Scenario &s, const TempDir &dir)
{
    for (HANDLE handle : held)
        CloseHandle(handle);
    held.clear();
    for (const File &f : s.files) {
        if (!(f.mode & 0200)) {
            EXPECT_EQ(GetFileAttributesA(dir.file(f.name).c_str()), kReadOnlyHidden) << f.name;
        }
    }
}

namespace {

// Devices answer to their names in any directory and with any extension
// or colon, the ports also with a superscript digit (UTF-8 "COM\xc2\xb9",
// which the ANSI code page shows as "COM\xb9"); none of them is ever
// opened, so none can block. Names close to a device's are files like any
// other.
INSTANTIATE_TEST_SUITE_P(Windows, ScenarioTest, testing::ValuesIn(std::vector<Scenario>{
    {"directories and devices are refused", {{"regular", "regular\n", 0644, "key"}},
     {"key", "$/sub", ".", "NUL", "nul.txt", "CON", "COM1", "lpt9.log", "\\\\.\\NUL", "$/aux", "COM1:", "NUL:",
      "CON:", "LPT1:", "$/COM\xc2\xb9.txt", "$/regular"}, 2, "",
     "\"$/sub\": not a regular file.\n\".\": not a regular file.\n\"NUL\": not a regular file.\n"
     "\"nul.txt\": not a regular file.\n\"CON\": not a regular file.\n\"COM1\": not a regular file.\n"
     "\"lpt9.log\": not a regular file.\n\"\\\\.\\NUL\": not a regular file.\n\"$/aux\": not a regular file.\n"
     "\"COM1:\": not a regular file.\n\"NUL:\": not a regular file.\n\"CON:\": not a regular file.\n"
     "\"LPT1:\": not a regular file.\n\"$/COM\xb9.txt\": not a regular file.\n", false, {},
     [](const std::string &dir) { std::filesystem::create_directory(dir + "/sub"); }},
    {"names close to a device's", {{"COM0", "plain\n", 0644, "key"}, {"lpt10", "plain\n", 0644, "key"},
     {"abc1.txt", "plain\n", 0644, "key"}, {"CONSOLE", "plain\n", 0644, "key"}, {"nul1", "plain\n", 0644, "key"}},
     {"key", "$/COM0", "$/lpt10", "$/abc1.txt", "$/CONSOLE", "$/nul1"}},
    // The ANSI command line turns U+FF41 into its look-alike 'a'; a message
    // shows what the ANSI code page lacks as '?', not as a look-alike.
    {"a full-width name is the file converted", {{"\xef\xbd\x81.txt", "plain\n", 0644, "key"}, {"a.txt", "plain\n"}},
     {"key", "$/\xef\xbd\x81.txt", "$/\xef\xbd\x82.txt"}, 2, "", "\"$/?.txt\": can't change file mode to write.\n"},
    {"a path over 260 characters", {{std::string(150, 'd') + "/" + std::string(150, 'e'), "long\n", 0644, "key"}},
     {"key", "$/" + std::string(150, 'd') + "\\" + std::string(150, 'e')}},
    // Whoever may write the file (an administrator, or Wine's root) converts
    // it without clearing the attribute; everyone else has it cleared and
    // set again. Either way the attributes end as they began, after a
    // conversion, after a mismatch, and when the file, held open by another
    // program that shares no writing, cannot be opened even with the
    // attribute cleared.
    {"read-only files keep their attributes",
     {{"held", "in use\n", 0444}, {"text", "protected\n", 0444, "key"}, {"binary", kBinary, 0444}},
     {"-t", "key", "$/held", "$/text", "$/binary"}, 1, "exit!\n",
     "can't open \"$/held\" to write.\n\"$/binary\": not a text file or mistaken keycode.\n", false, {},
     [](const std::string &dir) { hold(dir + "/held", FILE_SHARE_READ); }},
    // Another program holds a file by a lock on any part of it, or by
    // sharing neither reading nor writing.
    {"a file that another program holds is skipped", {{"locked", "in use\n"}, {"unshared", "in use\n"}},
     {"key", "$/locked", "$/unshared"}, 2, "",
     "\"$/locked\": in use by another program; skipped.\n\"$/unshared\": in use by another program; skipped.\n",
     false, {}, [](const std::string &dir) {
         OVERLAPPED at_end{};
         at_end.Offset = 6;
         ASSERT_TRUE(LockFileEx(hold(dir + "/locked", FILE_SHARE_READ | FILE_SHARE_WRITE), LOCKFILE_EXCLUSIVE_LOCK, 0,
                                1, 0, &at_end));
         hold(dir + "/unshared", 0);
     }},
}));

bool under_wine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Presses Ctrl+C for the child as a console would; false when there is no
// way to here. Windows sends Ctrl+Break to the child's process group. Wine
// without a display gives its programs no console, but it turns a SIGINT
// of a program's Unix process into Ctrl+C, as for Ctrl+C in a terminal: a
// Unix shell sends one to the process whose command line holds name
// (written "nam[e]" so that the shell's own does not).
bool press_ctrl_c(pid_t pid, const std::string &name)
{
    if (!under_wine())
        return GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, static_cast<DWORD>(pid)) != 0;
    std::string pattern = name.substr(0, name.size() - 1) + "[" + name.back() + "]";
    run_process({"Z:\\bin\\sh", "-c",
                 "for p in /proc/[0-9]*; do grep -qa '" + pattern + "' $p/cmdline && kill -INT ${p#/proc/}; done"});
    return true;
}

// Ctrl+C stops the run at the write in progress, with the count that
// undoes it and the status of an interruption.
TEST(ConsoleEventTest, CtrlCStopsTheRunWithTheCountThatUndoesIt)
{
    const std::uint64_t kSize = std::uint64_t{2} << 30;
    TempDir dir;
    BigFile file(kSize);
    if (!file.no_room.empty())
        GTEST_SKIP() << file.no_room;
    // A group of its own lets Ctrl+Break reach the child alone; it would
    // also make the child ignore the Ctrl+C that Wine sends.
    ProcessOptions group;
    group.new_process_group = !under_wine();
    std::string out = dir.file("out"), err = dir.file("err");
    pid_t pid = start_process({LUMTAR_BINARY, "key", file.path}, out, err, group);
    for (int i = 0; i < 10000 && file.read_at(0, 64) == std::string(64, '\0'); ++i)
        Sleep(1);
    // The big file's directory has a name of its own, which no other
    // process's command line holds.
    if (!press_ctrl_c(pid, std::filesystem::path(file.dir.path()).filename().string())) {
        wait_process(pid, out, err);
        GTEST_SKIP() << "no console control event can be sent here (error " << GetLastError() << ")";
    }
    ProcessResult r = wait_process(pid, out, err);
    EXPECT_EQ(r.exit_status, 130);
    const std::uint64_t n = interruption_count(r.err, file.path);
    ASSERT_EQ(r.err, text_output(interruption_message(file.path, n)));

    ASSERT_EQ(lumtar({"-l", std::to_string(n), "key", file.path}).exit_status, 0);
    const std::size_t kStep = 64 << 20;
    for (std::uint64_t at = 0; at < kSize; at += kStep)
        ASSERT_EQ(file.read_at(at, kStep), std::string(kStep, '\0')) << "not undone at " << at;
}

}  // namespace
}  // namespace lumtar_test
