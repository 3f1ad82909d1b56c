// The tool's file layer where a process test cannot time its attack: a
// name swapped between the examination and the opening for update.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "file_io.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

unsigned mode_of(const std::string &path)
{
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

// Runs the steps in a child, as the unprivileged user when asked to and
// able to: what it returns is the child's exit status.
template <class Steps>
int in_child(bool unprivileged, Steps steps)
{
    pid_t pid = fork();
    if (pid == 0) {
        if (unprivileged && (setresgid(kNobody, kNobody, kNobody) != 0 || setresuid(kNobody, kNobody, kNobody) != 0))
            std::_Exit(126);
        std::_Exit(steps());
    }
    int status = -1;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The user's read-only file is examined, then its name made a link to a
// file of root's. Whether the user can open the link or not, and whether a
// mode change is needed first or not, nothing but the examined file is
// opened, and no mode but its own changes, and that one comes back.
TEST(FileLayer, ANameSwappedAfterTheExaminationReachesNoOtherFile)
{
    for (bool unprivileged : {false, geteuid() == 0}) {
        TempDir dir;
        const std::string mine = dir.file("mine"), kept = dir.file("kept"), roots = dir.file("roots");
        write_file(mine, "mine\n");
        write_file(roots, "root's\n");
        ASSERT_EQ(chmod(mine.c_str(), 0444) | chmod(roots.c_str(), 0600), 0);
        fs::create_hard_link(mine, kept);
        if (unprivileged) {
            ASSERT_EQ(chown(dir.path().c_str(), kNobody, kNobody) | chown(mine.c_str(), kNobody, kNobody), 0);
        }
        int result = in_child(unprivileged, [&] {
            lumtar::InPlaceFile file;
            if (file.examine(mine.c_str()) != lumtar::OpenResult::opened)
                return 10;
            fs::remove(mine);
            fs::create_symlink(roots, mine);
            return static_cast<int>(file.open_for_update());
        });
        EXPECT_EQ(result, static_cast<int>(lumtar::OpenResult::cannot_open)) << unprivileged;
        EXPECT_EQ(read_file(roots), "root's\n");
        EXPECT_EQ(mode_of(roots), 0600u);
        EXPECT_EQ(read_file(kept), "mine\n");
        EXPECT_EQ(mode_of(kept), 0444u);
    }
}

}  // namespace
