// The child-process helper of the tests, on a small program of its own.
#include "support/process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::TempDir;

// Arguments that a command line must quote or escape to pass them intact.
const std::vector<std::string> kArguments = {
    "plain", "with space", "", "say \"hi\"", "\"", "back\\slash", "end\\", "\\\"", "a\\\\\"b", "tab\there", "%PATH%",
};

std::string bracketed(const std::vector<std::string> &args)
{
    std::string text;
    for (const auto &arg : args)
        text += "[" + arg + "]";
    return text;
}

std::vector<std::string> child_with(const std::string &status)
{
    std::vector<std::string> argv = {PROCESS_CHILD, status};
    argv.insert(argv.end(), kArguments.begin(), kArguments.end());
    return argv;
}

std::string leaf_of(const std::string &path) { return std::filesystem::path(path).filename().string(); }

TEST(Process, RunCapturesBothStreamsAndTheStatus)
{
    TempDir dir;
    ProcessOptions options;
    options.env = {"LUMTAR_CHILD_NOTE=a note"};
    options.cwd = dir.path();
    ProcessResult r = testing_support::run_process(child_with("3"), options);
    EXPECT_EQ(r.out, bracketed(kArguments));
    EXPECT_EQ(r.err, "a note in " + leaf_of(dir.path()));
    EXPECT_EQ(r.exit_status, 3);
    EXPECT_EQ(r.term_signal, 0);
}

TEST(Process, StartAndWaitSendTheStreamsToFiles)
{
    TempDir dir;
    pid_t pid = testing_support::start_process(child_with("0"), dir.file("out"), dir.file("err"));
    ProcessResult r = testing_support::wait_process(pid, dir.file("out"), dir.file("err"));
    EXPECT_EQ(r.out, bracketed(kArguments));
    EXPECT_EQ(r.err, "no note in " + leaf_of(std::filesystem::current_path().string()));
    EXPECT_EQ(r.exit_status, 0);
}

}  // namespace
