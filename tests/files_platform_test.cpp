// The file helpers over a double of the operating-system layer, linked in
// place of the real one, for what no real file system shows on demand; and
// the drive rules of the Windows layer, which are text and arithmetic alone.
#include <climits>
#include <tuple>

#include "drives.h"
#include "files_test.h"
#include "platform.h"

using namespace files_test;
using namespace lumlib;
using namespace testing_support;

// What the double answers, whatever the path.
std::optional<double> free_answer;
std::optional<std::uint64_t> cluster_answer;

std::string cluster_asked_of;

std::optional<double> platform::free_bytes(const char *) { return free_answer; }
std::optional<std::uint64_t> platform::cluster_size(const char *path)
{
    cluster_asked_of = path;
    return cluster_answer;
}

bool platform::is_directory(const char *) { return false; }
bool platform::same_file(std::FILE *, const char *) { return false; }
std::FILE *platform::create_new(const char *path) { return std::fopen(path, "wbx"); }

// The system's answers, and what the helpers make of them: the full figure
// kept, the results cut to an int; Fclose's result after a close that
// succeeded, with the drive prefix of the path as it is.
TEST(FilesOverDouble, FiguresAndFclose)
{
    using Row = std::tuple<std::optional<double>, std::optional<std::uint64_t>, const char *, const char *, int, int>;
    const Row rows[] = {
        {std::nullopt, std::nullopt, "E:\\x", "E drive: no free disk space\n", -1, 0},
        {0.0, 1, "d:", "d drive: no free disk space\n", 0, 1}, {0.0, 512, "data\\x", "no free disk space\n", 0, 512},
        {0.0, 0, ":x", "no free disk space\n", 0, 0}, {0.0, 65536, "", "no free disk space\n", 0, 65536},
        {1.0, 4096, "D:\\x", "", 1, 4096}, {2147483647.0, INT_MAX, "x", "", INT_MAX, INT_MAX},
        {2147483648.0, 1ull << 31, "x", "", INT_MAX, 0}, {5e12, UINT64_MAX, "x", "", INT_MAX, 0}};
    TempDir dir;
    for (const auto &[free, cluster, path, message, free_result, cluster_result] : rows) {
        free_answer = free;
        cluster_answer = cluster;
        std::FILE *fp = std::fopen(dir.file("out").c_str(), "wb");
        // A braced list is evaluated in order: the figure is read after the query.
        EXPECT_EQ((std::tuple<int, double, int>{getFreeSpace(path), FreeDiskSpace, getClusterSize(path)}),
                  std::make_tuple(free_result, free.value_or(-1.0), cluster_result)) << path;
        EXPECT_EQ(with_stderr([&] { return Fclose(fp, path); }), Outcome(*message ? -1 : 0, message)) << path;
    }
}

// The buffer is one cluster of the destination, or 1024 bytes when that is
// unknown: the copy is the same whatever its size. A final close that finds
// no free byte fails the copy, after Fclose's own message. The names have no
// drive prefix on any system.
TEST(FilesOverDouble, CopyWithEveryBufferSize)
{
    TempDir dir;
    fs::path cwd = fs::current_path();
    fs::current_path(dir.path());
    for (std::optional<std::uint64_t> cluster : {std::optional<std::uint64_t>(), {1}, {3}, {1024}, {65536}})
        for (size_t size : {0, 1, 1023, 1024, 1025, 65537, 3000001})
            for (double free : {0.0, 1e9}) {
                std::string content = random_bytes(size, 3);
                write_file("src", content);
                cluster_answer = cluster;
                free_answer = free;
                EXPECT_EQ(copy("src", "dst"),
                          free > 0 ? Outcome(1, "") : Outcome(0, "no free disk space\ndst: writing error\n"));
                EXPECT_TRUE(read_file("dst") == content) << cluster.value_or(0) << " " << size << " " << free;
                EXPECT_EQ(cluster_asked_of, "dst") << "the buffer is a cluster of the destination";
            }
    fs::current_path(cwd);
}

TEST(DriveRoot, IsTheDrivePrefixOrTheCurrentDrive)
{
    const std::pair<const char *, const char *> cases[] = {
        {"C:", "C:\\"}, {"C:\\dir\\file", "C:\\"}, {"d:work", "d:\\"}, {"7:x", "7:\\"}, {"::", "::\\"}, {"C", "\\"},
        {"\\x", "\\"}, {"\\\\server\\share", "\\"}, {"dir\\file", "\\"}, {"", "\\"}, {":x", "\\"}};
    for (const auto &[path, root] : cases)
        EXPECT_EQ(platform::drive_root(path), root) << path;
}

// The product of three 32-bit figures takes up to 96 bits; it is rounded
// once: past 32 bits, just below 64 bits, past 64 bits, and at the largest,
// (2^32 - 1)^3 = 2^96 - 3 * 2^64 + 3 * 2^32 - 1, whose last two terms are
// less than half a unit in the last place.
TEST(ClusterBytes, IsTheExactProductRoundedOnce)
{
    constexpr std::uint32_t kMax = 0xFFFFFFFF;
    const std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, double> rows[] = {{0, 8, 512, 0.0},
        {3, 8, 512, 12288.0}, {1048576, 8, 512, 0x1p32}, {kMax, 1 << 16, 1 << 16, 0xFFFFFFFFp32},
        {kMax, 1 << 20, 1 << 20, 0xFFFFFFFFp40}, {kMax, kMax, kMax, 0xFFFFFFFDp64}};
    for (const auto &[clusters, sectors, bytes, product] : rows)
        EXPECT_EQ(platform::cluster_bytes(clusters, sectors, bytes), product) << clusters << " " << sectors;
}
