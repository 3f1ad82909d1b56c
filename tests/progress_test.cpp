// The progress line's text for given figures and terminal widths.
#include <gtest/gtest.h>

#include "progress.h"

namespace {

const std::int64_t kGiB = std::int64_t{1} << 30;

std::string line(const char *name, int place, int files, std::int64_t done, std::int64_t total, double rate,
                 int width = 80)
{
    std::string got = lumtar::progress_line({name, place, files, done, total, rate}, width);
    EXPECT_LE(got.size(), static_cast<std::size_t>(width - 3)) << got;
    return got;
}

TEST(ProgressLineTest, SaysTheFiguresWithinTheWidth)
{
    EXPECT_EQ(line("disk.img", 1, 1, 3 * kGiB / 2, 20 * kGiB, 310.5 * (1 << 20)),
              "\"disk.img\" 1.5 GiB of 20.0 GiB (7%), 310.5 MiB/s, 1:01 left");
    // Nothing moved lately: the time left cannot be told.
    EXPECT_EQ(line("f", 1, 1, 1023, 1024, 0), "\"f\" 1023 B of 1.0 KiB (99%), 0 B/s, --:-- left");
    // Just below a unit, a figure that would round to 1024 takes the next.
    EXPECT_EQ(line("f", 1, 1, (1 << 20) - 1, 5 * kGiB, 1000), "\"f\" 1.0 MiB of 5.0 GiB (0%), 1000 B/s, --:-- left");
    EXPECT_EQ(line("f", 1, 1, 0, 4 * kGiB, 1 << 20), "\"f\" 0 B of 4.0 GiB (0%), 1.0 MiB/s, 1:08:16 left");
    // A time left is told up to 100 hours.
    EXPECT_EQ(line("f", 1, 1, 0, 359999, 1), "\"f\" 0 B of 351.6 KiB (0%), 1 B/s, 99:59:59 left");
    EXPECT_EQ(line("f", 1, 1, 0, 360000, 1), "\"f\" 0 B of 351.6 KiB (0%), 1 B/s, --:-- left");
    // A file that grew has more than was planned.
    EXPECT_EQ(line("f", 1, 1, 3000, 2000, 1500), "\"f\" 2.9 KiB of 2.9 KiB (100%), 1.5 KiB/s, 0:00 left");
    EXPECT_EQ(line("a\tb~\x7f\xe9\x83\xa8", 1, 1, 0, 0, 0), "\"a?b~????\" 0 B of 0 B (100%), 0 B/s, --:-- left");
    EXPECT_EQ(line("/very/long/path/to/disk.img", 3, 12, kGiB, 4 * kGiB, kGiB, 72),
              "3/12 \".../to/disk.img\" 1.0 GiB of 4.0 GiB (25%), 1.0 GiB/s, 0:03 left");
    // Too narrow for the figures: the name keeps a character, the rest is cut.
    EXPECT_EQ(line("disk.img", 1, 1, kGiB, 4 * kGiB, kGiB, 30), "\"...g\" 1.0 GiB of 4.0 GiB (");
}

}  // namespace
