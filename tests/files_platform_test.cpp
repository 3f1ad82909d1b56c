// The file helpers over a double of the operating-system layer, linked in
// place of the real one: what no real file system here shows on demand.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "lumlib/files.h"
#include "lumlib/memory.h"
#include "platform_double.h"
#include "support/system.h"
#include "support/temp_dir.h"

#if defined(__SANITIZE_ADDRESS__)
// Lets an allocation above 512 MiB fail as a null result, as the plain
// allocator's does when the address space runs out.
extern "C" const char *__asan_default_options() { return "allocator_may_return_null=1:max_allocation_size_mb=512"; }
#endif

namespace {

using lumlib::copyFile;
using lumlib::Fclose;
using lumlib::FreeDiskSpace;
using lumlib::getClusterSize;
using lumlib::getFreeSpace;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

class FilesOverDouble : public testing::Test {
protected:
    void SetUp() override { platform_double::reset(); }
    void TearDown() override { platform_double::reset(); }
    platform_double::Answers &answers = platform_double::answers;
    TempDir dir;
};

std::string stderr_of(const std::function<void()> &fn)
{
    testing::internal::CaptureStderr();
    fn();
    return testing::internal::GetCapturedStderr();
}

TEST_F(FilesOverDouble, FreeSpaceKeepsTheFullFigureAndCutsTheResult)
{
    struct Case {
        std::optional<double> free;
        int result;
        double figure;
    } cases[] = {
        {std::nullopt, -1, -1.0},
        {0.0, 0, 0.0},
        {1.0, 1, 1.0},
        {2147483647.0, INT_MAX, 2147483647.0},
        {2147483648.0, INT_MAX, 2147483648.0},
        {5e12, INT_MAX, 5e12},
    };
    for (const auto &c : cases) {
        answers.free_bytes = c.free;
        FreeDiskSpace = 12345.0;
        EXPECT_EQ(getFreeSpace("C:\\dir\\file"), c.result) << c.figure;
        EXPECT_EQ(FreeDiskSpace, c.figure);
    }
    // The path goes to the system as it is: the root rule is the system's.
    EXPECT_EQ(platform_double::asked.front(), "free_bytes C:\\dir\\file");
}

TEST_F(FilesOverDouble, ClusterSizeThatAnIntCannotHoldCountsAsUnknown)
{
    struct Case {
        std::optional<std::uint64_t> size;
        int result;
    } cases[] = {
        {std::nullopt, 0}, {512, 512}, {65536, 65536}, {INT_MAX, INT_MAX}, {std::uint64_t{INT_MAX} + 1, 0},
    };
    for (const auto &c : cases) {
        answers.cluster_size = c.size;
        EXPECT_EQ(getClusterSize("x"), c.result);
    }
}

// A close that succeeded still fails when no free byte is left, or when the
// question cannot be answered.
TEST_F(FilesOverDouble, FcloseReportsNoFreeSpaceByTheDriveOfThePath)
{
    struct Case {
        std::optional<double> free;
        const char *path;
        int result;
        const char *message;
    } cases[] = {
        {0.0, "D:\\data\\x", -1, "D drive: no free disk space\n"},
        {0.0, "d:", -1, "d drive: no free disk space\n"},
        {0.0, "7:x", -1, "7 drive: no free disk space\n"},
        {0.0, "data\\x", -1, "no free disk space\n"},
        {0.0, ":x", -1, "no free disk space\n"},
        {0.0, "", -1, "no free disk space\n"},
        {std::nullopt, "E:\\x", -1, "E drive: no free disk space\n"},
        {std::nullopt, "x", -1, "no free disk space\n"},
        {1.0, "D:\\x", 0, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        answers.free_bytes = c.free;
        FILE *fp = std::fopen(dir.file("out").c_str(), "wb");
        std::fputs("written", fp);
        int result = 1;
        EXPECT_EQ(stderr_of([&] { result = Fclose(fp, c.path); }), c.message);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(read_file(dir.file("out")), "written") << "the close itself succeeded";
    }
}

// The buffer is one cluster of the destination, or 1024 bytes when that is
// unknown; the copy is the same whatever its size.
TEST_F(FilesOverDouble, CopyIsTheSameWithAnyBufferSize)
{
    std::mt19937 rng(3);
    std::string content(100003, '\0');
    for (char &c : content)
        c = static_cast<char>(rng());
    write_file(dir.file("src"), content);
    answers.free_bytes = 1e9;
    for (std::optional<std::uint64_t> cluster : {std::optional<std::uint64_t>{}, {1}, {3}, {1024}, {65536}}) {
        SCOPED_TRACE(cluster.value_or(0));
        answers.cluster_size = cluster;
        platform_double::asked.clear();
        EXPECT_EQ(copyFile(dir.file("src").c_str(), dir.file("dst").c_str(), 0), 1);
        EXPECT_TRUE(read_file(dir.file("dst")) == content);
        EXPECT_EQ(platform_double::asked[1], "cluster_size " + dir.file("dst"));
    }
}

// The final close finds the disk full: Fclose's message, then the copy's.
TEST_F(FilesOverDouble, CopyWhoseFinalCloseFindsNoFreeSpaceFails)
{
    write_file(dir.file("src"), "all of it");
    answers.free_bytes = 0.0;
    answers.cluster_size = 4096;
    // A relative destination, which has no drive prefix on any system.
    std::filesystem::path cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    int result = -1;
    std::string err = stderr_of([&] { result = copyFile("src", "dst", 0); });
    std::filesystem::current_path(cwd);
    EXPECT_EQ(err, "no free disk space\ndst: writing error\n");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(read_file(dir.file("dst")), "all of it");
}

// getmem gives no buffer only when terminate_size has been lowered: then
// the copy fails before the destination is touched. The child reports what
// it finds there, since a child that runs the test anew works in a
// directory of its own.
TEST_F(FilesOverDouble, CopyWithoutABufferLeavesTheDestinationUntouched)
{
    if (std::string why = testing_support::why_no_memory_cap(); !why.empty())
        GTEST_SKIP() << why;
    write_file(dir.file("src"), "new");
    write_file(dir.file("dst"), "precious");
    answers.cluster_size = 1 << 30;
    auto body = [&] {
#if !defined(__SANITIZE_ADDRESS__)
        // Leaves room for the test's own needs, not for a 1 GiB buffer.
        if (!testing_support::cap_memory(256 << 20))
            std::_Exit(2);
#endif
        lumlib::terminate_size = 1 << 30;
        int result = copyFile(dir.file("src").c_str(), dir.file("dst").c_str(), 0);
        std::fprintf(stderr, "result %d, %s\n", result, read_file(dir.file("dst")).c_str());
        std::_Exit(0);
    };
    // The whole output, but for the warning the sanitizer's allocator adds.
    EXPECT_EXIT(body(), testing::ExitedWithCode(0),
                "^(==[0-9]+==WARNING: AddressSanitizer failed to allocate 0x40000000 bytes\n)?"
                "\ncannot get the memory of 1048576 K bytes\nresult 0, precious\n$");
}

}  // namespace
