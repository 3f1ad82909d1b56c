// The file helpers on POSIX systems: the figures are those of the file system
// that holds a path, or its nearest existing ancestor; and what only this
// system lets a test show (a file system of a test's own).
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include "files_test.h"

using namespace files_test;
using namespace lumlib;
using namespace testing_support;

std::vector<std::string> files_test::other_names(const TempDir &dir, const std::string &name)
{
    fs::create_symlink(dir.file(name), dir.file("link to " + name));
    return {dir.file("link to " + name)};
}

// A directory opens for reading here, and every read of it fails. /dev/full
// refuses every write: a large copy fails on a write, a small one on the
// final close.
TEST(CopyFile, ReadAndWriteErrorsAreReported)
{
    TempDir dir;
    EXPECT_EQ(copy(dir.path(), dir.file("dst")), Outcome(0, dir.path() + ": reading error\n"));
    for (size_t size : {10, 100000}) {
        write_file(dir.file("src"), random_bytes(size, 1));
        EXPECT_EQ(copy(dir.file("src"), "/dev/full"), Outcome(0, "/dev/full: writing error\n")) << size;
    }
}

// getFreeSpace's result, the figure it leaves, and getClusterSize: the
// operands of << are evaluated in order.
static std::string figures(const std::string &path)
{
    return (testing::Message() << getFreeSpace(path.c_str()) << " " << FreeDiskSpace << " "
                               << getClusterSize(path.c_str())).GetString();
}

// A 64 KiB tmpfs in a mount namespace of this process alone, which works in
// it meanwhile: there "C:\dir\file" and "C:dst" are relative names, "file" is
// an empty file and "loop" a link to itself. Extra slashes are skipped on the
// way up.
TEST(OwnFileSystem, FiguresOfEveryKindOfPathAndAFullDisk)
{
    TempDir dir, outside;
    std::string mnt = dir.path(), page = std::to_string(sysconf(_SC_PAGESIZE));
    std::string content = random_bytes(200001, 5), cwd = fs::current_path();
    write_file(outside.file("src"), content);
    if (geteuid() != 0 || unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
        GTEST_SKIP() << "no mount namespace of a test's own here";
    ASSERT_EQ(mount("lumtar-test", mnt.c_str(), "tmpfs", 0, "size=64k"), 0);
    fs::current_path(mnt);
    write_file("file", "");
    fs::create_symlink("loop", "loop");
    for (std::string path : {mnt, mnt + "/missing//deeper/file", mnt + "/file/under/a/file",
                             std::string("C:\\dir\\file"), std::string(), std::string("missing/file/")})
        EXPECT_EQ(figures(path), "65536 65536 " + page) << path;
    EXPECT_NE(figures("/lumtar-no-such-directory/file"), "65536 65536 " + page) << "the figures of /, not of .";
    EXPECT_EQ(figures("loop/file"), "-1 -1 0") << "a failed query climbs no further";
    // The write that finds the disk full is reported, then Fclose finds no
    // free byte; the source's first bytes stay behind.
    EXPECT_EQ(copy(outside.file("src"), "C:dst"), Outcome(0, "C:dst: writing error\nC drive: no free disk space\n"));
    EXPECT_TRUE(read_file("C:dst") == content.substr(0, 65536));
    // A close that fails itself gives EOF, with no free-space check. The
    // capture of stderr flushes every stream: the bytes go in after it.
    std::FILE *buffered = std::fopen("buffered", "wb");
    auto write_and_close = [&] {
        std::fputs("bytes that cannot be flushed", buffered);
        return Fclose(buffered, "buffered");
    };
    EXPECT_EQ(with_stderr(write_and_close), Outcome(EOF, ""));
    fs::current_path(cwd);
    umount2(mnt.c_str(), MNT_DETACH);
}
