// The file helpers' tests of every system.
#include "files_test.h"
#include "lumlib/memory.h"

using namespace files_test;
using namespace lumlib;
using namespace testing_support;

const std::string kAbsent = "<absent>", kDirectory = "<directory>";

// A name's state as a test sees it: absent, a directory, or a file's bytes.
static std::string state_of(const std::string &path)
{
    bool exists = fs::exists(fs::symlink_status(path));
    return !exists ? kAbsent : fs::is_directory(path) ? kDirectory : read_file(path);
}

static void make(const std::string &path, const std::string &state)
{
    if (state == kDirectory)
        fs::create_directory(path);
    else if (state != kAbsent)
        write_file(path, state);
}

TEST(Files, EndfunDefaultsToNullInAProgramWithoutOne) { EXPECT_EQ(endfun, nullptr); }

// Every start of a copy, against what copyFile promises: it copies when the
// source opens, the destination can be made and mode 1 finds none there;
// otherwise it gives 0 and touches nothing. It never says a word.
TEST(CopyFile, EveryModeFromEveryStart)
{
    const std::pair<std::string, std::string> destinations[] = {
        {"dst", kAbsent}, {"dst", "old bytes, longer than the new"}, {"dst", kDirectory}, {"none/dst", kAbsent}};
    for (int mode : {-1, 0, 1, 2, 7})
        for (const std::string &src : {kAbsent, std::string(), std::string("new bytes")})
            for (const auto &[name, dst] : destinations) {
                SCOPED_TRACE(testing::Message() << "mode " << mode << ", " << src << " onto " << name << " " << dst);
                TempDir dir;
                make(dir.file("src"), src);
                make(dir.file(name), dst);
                bool copies = src != kAbsent && dst != kDirectory && name == "dst" && (mode != 1 || dst == kAbsent);
                EXPECT_EQ(copy(dir.file("src"), dir.file(name), mode), Outcome(copies, ""));
                EXPECT_EQ(state_of(dir.file(name)), copies ? src : dst);
                EXPECT_EQ(state_of(dir.file("src")), src);
            }
}

// Checked against the source before the destination is emptied.
TEST(CopyFile, SameFileUnderAnyNameIsLeftUntouched)
{
    TempDir dir;
    std::string file = dir.file("file");
    write_file(file, "precious");
    fs::create_hard_link(file, dir.file("hard"));
    std::vector<std::string> names = other_names(dir, "file");
    names.insert(names.end(), {file, dir.path() + "/./file", dir.file("hard")});
    for (const auto &name : names)
        for (const auto &[src, dst] : {std::pair{file, name}, std::pair{name, file}})
            for (int mode : {0, 1, 2})
                EXPECT_EQ(copy(src, dst, mode), Outcome(0, "")) << src << " -> " << dst << ", mode " << mode;
    EXPECT_EQ(read_file(file), "precious");
}

TEST(IsDir, OnlyExistingDirectories)
{
    TempDir dir;
    write_file(dir.file("file"), "x");
    fs::create_directory(dir.file("sub"));
    std::vector<std::pair<std::string, int>> cases = {{dir.path(), 1}, {dir.file("sub"), 1}, {dir.file("sub/"), 1},
        {dir.file("file"), 0}, {dir.file("file/"), 0}, {dir.file("missing"), 0}, {"", 0}};
    for (const auto &name : other_names(dir, "sub"))
        cases.emplace_back(name, 1);
    for (const auto &[path, result] : cases)
        EXPECT_EQ(isDir(path.c_str()), result) << path;
}
