#include "lumlib/files.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <string>

#include "files_test.h"
#include "lumlib/memory.h"
#include "support/temp_dir.h"

namespace files_test {

std::string stderr_of(const std::function<void()> &fn)
{
    testing::internal::CaptureStderr();
    fn();
    return testing::internal::GetCapturedStderr();
}

testing::Matcher<const std::string &> exactly(const std::string &text)
{
    return testing::Matcher<const std::string &>(text);
}

}  // namespace files_test

namespace {

namespace fs = std::filesystem;

using files_test::random_bytes;
using files_test::stderr_of;
using lumlib::copyFile;
using lumlib::FreeDiskSpace;
using lumlib::getClusterSize;
using lumlib::getFreeSpace;
using lumlib::isDir;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

bool exists(const std::string &path) { return fs::exists(fs::symlink_status(path)); }

// Other writers on a shared disk may change the system's figure while
// getFreeSpace runs, even away and back: the two must agree in a quiet
// moment, with the figure read on both sides.
void expect_free_space_of(const files_test::FigureCase &c)
{
    double before = 0, figure = 0;
    int result = 0;
    for (int attempt = 0; attempt < 50; ++attempt) {
        before = files_test::system_free_bytes(c.place);
        result = getFreeSpace(c.path.c_str());
        figure = FreeDiskSpace;
        if (figure == before && files_test::system_free_bytes(c.place) == before)
            break;
    }
    EXPECT_EQ(figure, before) << c.path;
    EXPECT_EQ(result, before > INT_MAX ? INT_MAX : static_cast<int>(before)) << c.path;
}

// ---- Copying ---------------------------------------------------------------

TEST(Files, EndfunDefaultsToNullInAProgramWithoutOne) { EXPECT_EQ(lumlib::endfun, nullptr); }

TEST(CopyFile, CopiesOddAndLargeSizesByteForByte)
{
    TempDir dir;
    for (size_t size : {0, 1, 1023, 1024, 1025, 4095, 4096, 4097, 65537, 3000001}) {
        SCOPED_TRACE(size);
        std::string content = random_bytes(size, static_cast<unsigned>(size));
        write_file(dir.file("src"), content);
        int result = 0;
        EXPECT_EQ(stderr_of([&] { result = copyFile(dir.file("src").c_str(), dir.file("dst").c_str(), 0); }), "");
        EXPECT_EQ(result, 1);
        EXPECT_TRUE(read_file(dir.file("dst")) == content);
    }
}

TEST(CopyFile, EveryModeButOneOverwrites)
{
    TempDir dir;
    write_file(dir.file("src"), "new content");
    for (int mode : {0, 2, -1, 7}) {
        SCOPED_TRACE(mode);
        write_file(dir.file("dst"), "old content that is longer");
        EXPECT_EQ(copyFile(dir.file("src").c_str(), dir.file("dst").c_str(), mode), 1);
        EXPECT_EQ(read_file(dir.file("dst")), "new content");
    }
}

TEST(CopyFile, ModeOneKeepsAnExistingDestinationAndCreatesAMissingOne)
{
    TempDir dir;
    write_file(dir.file("src"), "new");
    write_file(dir.file("dst"), "old");
    int result = -1;
    EXPECT_EQ(stderr_of([&] { result = copyFile(dir.file("src").c_str(), dir.file("dst").c_str(), 1); }), "");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(read_file(dir.file("dst")), "old");
    EXPECT_EQ(read_file(dir.file("src")), "new");

    EXPECT_EQ(copyFile(dir.file("src").c_str(), dir.file("fresh").c_str(), 1), 1);
    EXPECT_EQ(read_file(dir.file("fresh")), "new");
}

// The source is opened before the destination is created or emptied.
TEST(CopyFile, SourceThatCannotBeOpenedLeavesTheDestinationUntouched)
{
    TempDir dir;
    for (int mode : {0, 1, 2}) {
        SCOPED_TRACE(mode);
        write_file(dir.file("dst"), "precious");
        int result = -1;
        EXPECT_EQ(stderr_of([&] { result = copyFile(dir.file("missing").c_str(), dir.file("dst").c_str(), mode); }),
                  "");
        EXPECT_EQ(result, 0);
        EXPECT_EQ(read_file(dir.file("dst")), "precious");
        EXPECT_EQ(copyFile(dir.file("missing").c_str(), dir.file("never").c_str(), mode), 0);
        EXPECT_FALSE(exists(dir.file("never")));
    }
}

TEST(CopyFile, SameFileUnderAnyNameIsLeftUntouched)
{
    TempDir dir;
    std::string file = dir.file("file");
    write_file(file, "precious");
    fs::create_hard_link(file, dir.file("hard"));
    std::vector<std::string> names = {file, dir.path() + "/./file", dir.file("hard")};
    for (const auto &name : files_test::other_names(dir, "file"))
        names.push_back(name);
    for (const auto &name : names) {
        for (const auto &[src, dst] : {std::pair{file, name}, std::pair{name, file}}) {
            for (int mode : {0, 2}) {
                SCOPED_TRACE(src + " -> " + dst + " mode " + std::to_string(mode));
                int result = -1;
                EXPECT_EQ(stderr_of([&] { result = copyFile(src.c_str(), dst.c_str(), mode); }), "");
                EXPECT_EQ(result, 0);
                EXPECT_EQ(read_file(file), "precious");
            }
        }
    }
}

TEST(CopyFile, DestinationThatCannotBeCreatedFailsSilently)
{
    TempDir dir;
    write_file(dir.file("src"), "data");
    int result = -1;
    EXPECT_EQ(stderr_of([&] { result = copyFile(dir.file("src").c_str(), dir.file("no/such/dst").c_str(), 0); }),
              "");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(read_file(dir.file("src")), "data");
}

// /dev/full refuses every write: a large source fails on a write, a small
// one at the final close, whose buffered bytes cannot go out.
TEST(CopyFile, WriteErrorsAreReportedWithTheDestination)
{
    if (!exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full on this system";
    TempDir dir;
    for (size_t size : {10, 100000}) {
        SCOPED_TRACE(size);
        write_file(dir.file("src"), random_bytes(size, 1));
        int result = -1;
        EXPECT_EQ(stderr_of([&] { result = copyFile(dir.file("src").c_str(), "/dev/full", 0); }),
                  "/dev/full: writing error\n");
        EXPECT_EQ(result, 0);
    }
}

// ---- Free space, cluster size, directories ---------------------------------

TEST(FreeSpace, AgreesWithTheSystemForThePlaceThatHoldsThePath)
{
    TempDir dir;
    for (const auto &c : files_test::figure_cases(dir))
        expect_free_space_of(c);
}

TEST(ClusterSize, AgreesWithTheSystemForThePlaceThatHoldsThePath)
{
    TempDir dir;
    for (const auto &c : files_test::figure_cases(dir))
        EXPECT_EQ(getClusterSize(c.path.c_str()), files_test::system_cluster_size(c.place)) << c.path;
}

TEST(IsDir, OnlyExistingDirectories)
{
    TempDir dir;
    write_file(dir.file("file"), "x");
    fs::create_directory(dir.file("sub"));
    struct Case {
        std::string path;
        int result;
    };
    std::vector<Case> cases = {
        {dir.path(), 1},       {dir.file("sub"), 1},   {dir.file("sub/"), 1},     {dir.file("file"), 0},
        {dir.file("file/"), 0}, {dir.file("missing"), 0}, {"", 0},
    };
    for (const auto &name : files_test::other_names(dir, "sub"))
        cases.push_back({name, 1});
    for (const auto &c : cases)
        EXPECT_EQ(isDir(c.path.c_str()), c.result) << c.path;
}

}  // namespace
