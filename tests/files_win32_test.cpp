// The file helpers on Windows: the figures are those of the drive that a
// path names, or else of the current drive; names are found whatever the
// case of their letters.
#include <windows.h>

#include <cctype>
#include <stdexcept>
#include <string>

#include "files_test.h"
#include "lumlib/files.h"

namespace files_test {

using testing_support::TempDir;

std::vector<std::string> other_names(const TempDir &dir, const std::string &name)
{
    std::string upper = name;
    for (char &c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return {dir.file(upper)};
}

namespace {

// The root of the current drive, as the system resolves a lone backslash.
std::string current_drive_root()
{
    char root[MAX_PATH];
    DWORD length = GetFullPathNameA("\\", sizeof root, root, nullptr);
    if (length == 0 || length >= sizeof root)
        throw std::runtime_error("no current drive");
    return root;
}

}  // namespace

std::vector<FigureCase> figure_cases(const TempDir &dir)
{
    std::string drive = dir.path().substr(0, 2);
    if (drive[1] != ':')
        throw std::runtime_error("the temporary directory " + dir.path() + " is on no drive");
    std::string root = drive + "\\";
    std::string current = current_drive_root();
    return {
        {dir.path(), root}, {dir.file("missing/deeper/file"), root}, {drive, root},       {drive + "work", root},
        {"dir\\file", current}, {"\\x", current},                      {"", current},
    };
}

double system_free_bytes(const std::string &place)
{
    ULARGE_INTEGER available, total, total_free;
    if (!GetDiskFreeSpaceExA(place.c_str(), &available, &total, &total_free))
        throw std::runtime_error("GetDiskFreeSpaceExA " + place);
    return static_cast<double>(available.QuadPart);
}

int system_cluster_size(const std::string &place)
{
    DWORD sectors, bytes, free_clusters, clusters;
    if (!GetDiskFreeSpaceA(place.c_str(), &sectors, &bytes, &free_clusters, &clusters))
        throw std::runtime_error("GetDiskFreeSpaceA " + place);
    return static_cast<int>(sectors * bytes);
}

}  // namespace files_test

namespace {

// "1:" names no drive: the queries fail, and a close on it finds no free
// space to report.
TEST(FreeSpace, OfADriveThatDoesNotExistIsAFailedQuery)
{
    EXPECT_EQ(lumlib::getFreeSpace("1:\\x"), -1);
    EXPECT_EQ(lumlib::FreeDiskSpace, -1.0);
    EXPECT_EQ(lumlib::getClusterSize("1:x"), 0);

    testing_support::TempDir dir;
    FILE *fp = std::fopen(dir.file("out").c_str(), "wb");
    ASSERT_NE(fp, nullptr);
    int result = 0;
    EXPECT_EQ(files_test::stderr_of([&] { result = lumlib::Fclose(fp, "1:\\x"); }), "1 drive: no free disk space\n");
    EXPECT_EQ(result, -1);
}

}  // namespace
