// The drive rules of the Windows platform layer, which are text and
// arithmetic alone: tested on every system.
#include "drives.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

namespace {

using lumlib::platform::cluster_bytes;
using lumlib::platform::drive_root;

TEST(DriveRoot, DrivePrefixOrTheCurrentDrive)
{
    struct Case {
        const char *path, *root;
    } cases[] = {
        {"C:", "C:\\"},      {"C:\\dir\\file", "C:\\"}, {"d:work", "d:\\"},     {"7:x", "7:\\"},
        {"::", "::\\"},      {"dir\\file", "\\"},       {"\\x", "\\"},         {"\\\\server\\share", "\\"},
        {"", "\\"},          {"C", "\\"},               {":x", "\\"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(drive_root(c.path), c.root) << c.path;
}

// The product of three 32-bit figures needs up to 96 bits.
TEST(ClusterBytes, IsTheExactProductRoundedOnce)
{
    constexpr std::uint32_t kMax = 0xFFFFFFFF;
    EXPECT_EQ(cluster_bytes(0, 8, 512), 0.0);
    EXPECT_EQ(cluster_bytes(3, 8, 512), 12288.0);
    EXPECT_EQ(cluster_bytes(1048576, 8, 512), 4294967296.0) << "past 32 bits";
    EXPECT_EQ(cluster_bytes(kMax, 1 << 16, 1 << 16), std::ldexp(double{kMax}, 32)) << "just below 64 bits";
    EXPECT_EQ(cluster_bytes(kMax, 1 << 20, 1 << 20), std::ldexp(double{kMax}, 40)) << "past 64 bits";
    // (2^32 - 1)^3 = 2^96 - 3 * 2^64 + 3 * 2^32 - 1: the last two terms are
    // less than half a unit in the last place.
    EXPECT_EQ(cluster_bytes(kMax, kMax, kMax), std::ldexp(double{kMax - 2}, 64));
}

}  // namespace
