// The file helpers on POSIX systems: the figures are those of the file
// system that holds a path, or its nearest existing ancestor; and what only
// this system lets a test show (file systems of a test's own, other users).
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "files_test.h"
#include "lumlib/files.h"
#include "support/process.h"

namespace files_test {

using testing_support::TempDir;

std::vector<std::string> other_names(const TempDir &dir, const std::string &name)
{
    std::string link = dir.file("link to " + name);
    if (symlink(dir.file(name).c_str(), link.c_str()) != 0)
        throw std::runtime_error("cannot link " + link);
    return {link};
}

std::vector<FigureCase> figure_cases(const TempDir &dir)
{
    testing_support::write_file(dir.file("file"), "x");
    std::vector<FigureCase> cases;
    for (std::string path : {dir.path(), dir.file("file"), dir.file("missing"), dir.file("missing/deeper/file"),
                             dir.file("file/under/a/file")})
        cases.push_back({path, dir.path()});
    return cases;
}

namespace {

struct statvfs statvfs_of(const std::string &place)
{
    struct statvfs fs;
    if (statvfs(place.c_str(), &fs) != 0)
        throw std::runtime_error("statvfs " + place);
    return fs;
}

}  // namespace

double system_free_bytes(const std::string &place)
{
    struct statvfs fs = statvfs_of(place);
    return static_cast<double>(fs.f_bavail) * static_cast<double>(fs.f_frsize);
}

int system_cluster_size(const std::string &place) { return static_cast<int>(statvfs_of(place).f_frsize); }

}  // namespace files_test

namespace {

using files_test::exactly;
using files_test::random_bytes;
using files_test::stderr_of;
using lumlib::copyFile;
using lumlib::Fclose;
using lumlib::FreeDiskSpace;
using lumlib::getClusterSize;
using lumlib::getFreeSpace;
using testing_support::kNobody;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

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
