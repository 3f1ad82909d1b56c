#include "lumlib/files.h"

#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>

#include "lumlib/memory.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

using lumlib::copyFile;
using lumlib::Fclose;
using lumlib::FreeDiskSpace;
using lumlib::getClusterSize;
using lumlib::getFreeSpace;
using lumlib::isDir;
using testing_support::kNobody;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

testing::Matcher<const std::string &> exactly(const std::string &text)
{
    return testing::Matcher<const std::string &>(text);
}

std::string random_bytes(size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string bytes(size, '\0');
    for (char &c : bytes)
        c = static_cast<char>(rng());
    return bytes;
}

// Runs fn and returns what it wrote to the standard error stream.
std::string stderr_of(const std::function<void()> &fn)
{
    testing::internal::CaptureStderr();
    fn();
    return testing::internal::GetCapturedStderr();
}

bool exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// The free bytes by statvfs, read on both sides of getFreeSpace: other
// writers on a shared file system may change the figure meanwhile, and then
// the comparison is made again.
void expect_free_space_as_statvfs(const std::string &path, const std::string &held_by)
{
    auto free_bytes = [&] {
        struct statvfs fs;
        EXPECT_EQ(statvfs(held_by.c_str(), &fs), 0);
        return static_cast<double>(fs.f_bavail) * static_cast<double>(fs.f_frsize);
    };
    for (int attempt = 0; attempt < 50; ++attempt) {
        double before = free_bytes();
        int result = getFreeSpace(path.c_str());
        double figure = FreeDiskSpace;
        if (free_bytes() != before)
            continue;
        EXPECT_EQ(figure, before) << path;
        EXPECT_EQ(result, before > INT_MAX ? INT_MAX : static_cast<int>(before)) << path;
        return;
    }
    ADD_FAILURE() << "the free space of " << held_by << " never held still";
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
    write_file(dir.file("file"), "precious");
    ASSERT_EQ(link(dir.file("file").c_str(), dir.file("hard").c_str()), 0);
    ASSERT_EQ(symlink(dir.file("file").c_str(), dir.file("soft").c_str()), 0);
    struct Case {
        std::string src, dst;
    } cases[] = {
        {dir.file("file"), dir.file("file")},
        {dir.file("file"), dir.path() + "/./file"},
        {dir.file("file"), dir.file("hard")},
        {dir.file("file"), dir.file("soft")},
        {dir.file("soft"), dir.file("file")},
    };
    for (const auto &c : cases) {
        for (int mode : {0, 2}) {
            SCOPED_TRACE(c.src + " -> " + c.dst + " mode " + std::to_string(mode));
            int result = -1;
            EXPECT_EQ(stderr_of([&] { result = copyFile(c.src.c_str(), c.dst.c_str(), mode); }), "");
            EXPECT_EQ(result, 0);
            EXPECT_EQ(read_file(dir.file("file")), "precious");
        }
    }
}

// A directory opens for reading on this system, and every read then fails.
TEST(CopyFile, ReadErrorOfTheSourceIsReportedAsAFailure)
{
    TempDir dir;
    std::string src = dir.file("a directory");
    ASSERT_EQ(mkdir(src.c_str(), 0755), 0);
    int result = -1;
    EXPECT_EQ(stderr_of([&] { result = copyFile(src.c_str(), dir.file("dst").c_str(), 0); }),
              src + ": reading error\n");
    EXPECT_EQ(result, 0);
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

TEST(FreeSpace, AgreesWithStatvfsForThePathOrItsNearestExistingAncestor)
{
    TempDir dir;
    write_file(dir.file("file"), "x");
    for (std::string path : {dir.path(), dir.file("file"), dir.file("missing"), dir.file("missing/deeper/file"),
                             dir.file("file/under/a/file")})
        expect_free_space_as_statvfs(path, dir.path());
}

TEST(ClusterSize, IsTheFileSystemsBlockSize)
{
    TempDir dir;
    struct statvfs fs;
    ASSERT_EQ(statvfs(dir.path().c_str(), &fs), 0);
    for (std::string path : {dir.path(), dir.file("missing"), dir.file("missing/deeper/file")})
        EXPECT_EQ(getClusterSize(path.c_str()), static_cast<int>(fs.f_frsize)) << path;
}

TEST(IsDir, OnlyExistingDirectories)
{
    TempDir dir;
    write_file(dir.file("file"), "x");
    ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
    ASSERT_EQ(symlink(dir.file("sub").c_str(), dir.file("link to sub").c_str()), 0);
    struct Case {
        std::string path;
        int result;
    } cases[] = {
        {dir.path(), 1},   {dir.file("sub"), 1},     {dir.file("sub/"), 1},  {dir.file("link to sub"), 1},
        {dir.file("file"), 0}, {dir.file("file/"), 0}, {dir.file("missing"), 0}, {"", 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(isDir(c.path.c_str()), c.result) << c.path;
}

// ---- Real file systems of the tests' own, in a child process --------------

// A tmpfs of the given options on dir, in a mount namespace of this process
// alone: the mount is seen nowhere else and goes away with the process.
bool mount_private_tmpfs(const std::string &dir, const std::string &options)
{
    return unshare(CLONE_NEWNS) == 0 && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount("lumtar-test", dir.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

// Why the tests that mount their own file system cannot run here, or "".
std::string why_no_private_mounts()
{
    if (geteuid() != 0)
        return "mounting a tmpfs needs root";
    TempDir dir;
    pid_t pid = fork();
    if (pid == 0)
        std::_Exit(mount_private_tmpfs(dir.path(), "size=64k") ? 0 : 1);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "" : "unshare or mount is refused here";
}

// The child's side: mounts, runs the body (which reports on stderr), ends.
void on_private_tmpfs(const std::string &dir, const std::string &options, const std::function<void()> &body)
{
    if (!mount_private_tmpfs(dir, options)) {
        std::fputs("mount failed\n", stderr);
        std::_Exit(2);
    }
    body();
    std::_Exit(0);
}

// Tests that mount a file system of their own on mnt, in a child.
class OwnFileSystemDeathTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (std::string why = why_no_private_mounts(); !why.empty())
            GTEST_SKIP() << why;
        ASSERT_EQ(mkdir(mnt.c_str(), 0755), 0);
    }

    TempDir dir;
    std::string mnt = dir.file("mnt");
    std::string page = std::to_string(sysconf(_SC_PAGESIZE));
};

void report_free_space(const char *path)
{
    int result = getFreeSpace(path);
    std::fprintf(stderr, "%s: %d %.0f %d\n", path, result, FreeDiskSpace, getClusterSize(path));
}

TEST_F(OwnFileSystemDeathTest, FreeSpaceIsThatOfTheFileSystemThatHoldsThePath)
{
    auto body = [&] {
        report_free_space(mnt.c_str());
        report_free_space((mnt + "/missing/deeper/file").c_str());
        // No drive letters here: these are names relative to the current
        // directory.
        if (chdir(mnt.c_str()) != 0)
            std::_Exit(3);
        report_free_space("C:\\dir\\file");
        report_free_space("");
        report_free_space("missing/file");
    };
    std::string expected;
    for (std::string path : {mnt, mnt + "/missing/deeper/file", std::string("C:\\dir\\file"), std::string(""),
                             std::string("missing/file")})
        expected += path + ": 1048576 1048576 " + page + "\n";
    EXPECT_EXIT(on_private_tmpfs(mnt, "size=1m", body), testing::ExitedWithCode(0), exactly(expected));
}

TEST_F(OwnFileSystemDeathTest, FreeSpaceBeyondAnIntIsCutInTheResultOnly)
{
    EXPECT_EXIT(on_private_tmpfs(mnt, "size=8g", [&] { report_free_space(mnt.c_str()); }),
                testing::ExitedWithCode(0), exactly(mnt + ": 2147483647 8589934592 " + page + "\n"));
}

// Fills a 64 KiB file system: the write that finds it full is reported, then
// Fclose finds no free byte; the partial destination stays.
TEST_F(OwnFileSystemDeathTest, CopyOntoADiskThatFillsUp)
{
    std::string content = random_bytes(200001, 5);
    write_file(dir.file("src"), content);
    auto copy_and_report = [&](const std::string &dst) {
        int result = copyFile(dir.file("src").c_str(), dst.c_str(), 0);
        std::string partial = read_file(dst);
        bool prefix = content.compare(0, partial.size(), partial) == 0;
        std::fprintf(stderr, "result %d, %zu bytes, %s, free %d\n", result, partial.size(),
                     prefix ? "the source's first bytes" : "NOT the source's first bytes", getFreeSpace(dst.c_str()));
    };
    auto body = [&] {
        copy_and_report(mnt + "/dst");
        if (chdir(mnt.c_str()) != 0 || unlink("dst") != 0)
            std::_Exit(3);
        copy_and_report("C:dst");
    };
    EXPECT_EXIT(on_private_tmpfs(mnt, "size=64k", body), testing::ExitedWithCode(0),
                exactly(mnt + "/dst: writing error\nno free disk space\n" +
                        "result 0, 65536 bytes, the source's first bytes, free 0\n" +
                        "C:dst: writing error\nC drive: no free disk space\n" +
                        "result 0, 65536 bytes, the source's first bytes, free 0\n"));
}

TEST_F(OwnFileSystemDeathTest, FcloseOnAFullDisk)
{
    auto body = [&] {
        std::string filler = mnt + "/filler";
        std::string block = random_bytes(4096, 2);
        FILE *fill = std::fopen(filler.c_str(), "wb");
        while (std::fwrite(block.data(), 1, block.size(), fill) == block.size()) {
        }
        std::fprintf(stderr, "filler: %d\n", Fclose(fill, filler.c_str()));
        std::string empty = mnt + "/empty";
        std::fprintf(stderr, "empty: %d\n", Fclose(std::fopen(empty.c_str(), "wb"), empty.c_str()));
        std::string buffered = mnt + "/buffered";
        FILE *fp = std::fopen(buffered.c_str(), "wb");
        std::fputs("bytes that cannot be flushed", fp);
        std::fprintf(stderr, "buffered: %d\n", Fclose(fp, buffered.c_str()));
    };
    EXPECT_EXIT(on_private_tmpfs(mnt, "size=64k", body), testing::ExitedWithCode(0),
                exactly("no free disk space\nfiller: -1\nno free disk space\nempty: -1\nbuffered: -1\n"));
}

// ---- As an ordinary user -----------------------------------------------------

// Runs body as uid and gid 65534 in the child; root ignores permissions.
void as_nobody(const std::function<void()> &body)
{
    if (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
        setresuid(kNobody, kNobody, kNobody) != 0)
        std::_Exit(2);
    body();
    std::_Exit(0);
}

// A readable directory for nobody, the test's own being private to root.
void open_to_others(const TempDir &dir) { ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0); }

// Mode 1 never overwrites: not even a destination its caller cannot read
// but could write.
TEST(CopyFileDeathTest, ModeOneKeepsADestinationThatCannotBeRead)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "changing to another user needs root";
    TempDir dir;
    open_to_others(dir);
    write_file(dir.file("src"), "new");
    write_file(dir.file("dst"), "precious");
    ASSERT_EQ(chown(dir.file("dst").c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(chmod(dir.file("dst").c_str(), 0200), 0);
    auto body = [&] {
        std::fprintf(stderr, "result %d\n", copyFile(dir.file("src").c_str(), dir.file("dst").c_str(), 1));
    };
    EXPECT_EXIT(as_nobody(body), testing::ExitedWithCode(0), exactly("result 0\n"));
    EXPECT_EQ(read_file(dir.file("dst")), "precious");
}

// A query the system refuses (no search permission on the way) fails; it
// does not climb to an ancestor it can see.
TEST(FreeSpaceDeathTest, QueryThatIsRefusedFails)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "changing to another user needs root";
    TempDir dir;
    open_to_others(dir);
    ASSERT_EQ(mkdir(dir.file("closed").c_str(), 0700), 0);
    auto body = [&] { report_free_space(dir.file("closed/file").c_str()); };
    EXPECT_EXIT(as_nobody(body), testing::ExitedWithCode(0), exactly(dir.file("closed/file") + ": -1 -1 0\n"));
}

}  // namespace
