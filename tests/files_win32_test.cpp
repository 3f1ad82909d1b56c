// The file helpers on Windows: the figures are those of the drive that a path
// names, or else of the current drive; names are found whatever the case of
// their letters.
#include <windows.h>

#include "files_test.h"

std::vector<std::string> files_test::other_names(const testing_support::TempDir &dir, const std::string &name)
{
    std::string upper = name;
    CharUpperA(upper.data());
    return {dir.file(upper)};
}

// The cluster size tells the drive that was asked about; the free bytes of a
// disk change with every writer. "1:" names no drive: the queries fail.
TEST(Figures, AreThoseOfTheDriveThatThePathNamesOrOfTheCurrentDrive)
{
    testing_support::TempDir dir;
    std::string drive = dir.path().substr(0, 2), root = drive + "\\";
    char current[MAX_PATH];
    GetFullPathNameA("\\", MAX_PATH, current, nullptr);
    const std::pair<std::string, std::string> cases[] = {
        {dir.path(), root},     {dir.file("missing/deeper/file"), root}, {drive, root},    {drive + "work", root},
        {"dir\\file", current}, {"\\x", current}, {"", current},          {"1:\\x", "1:\\"}, {"1:x", "1:\\"}};
    for (const auto &[path, place] : cases) {
        DWORD sectors, bytes, free_clusters, clusters;
        bool known = GetDiskFreeSpaceA(place.c_str(), &sectors, &bytes, &free_clusters, &clusters);
        EXPECT_EQ(lumlib::getClusterSize(path.c_str()), known ? static_cast<int>(sectors * bytes) : 0) << path;
        EXPECT_EQ(lumlib::getFreeSpace(path.c_str()) == -1, !known) << path;
    }
}
