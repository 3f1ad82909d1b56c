// The C library of POSIX systems has an index, rindex, bcopy and strcasecmp
// of its own (strings.h), declared here on purpose: a program can use them
// next to the library's. The Windows C library has none.
#include <string.h>
#include <strings.h>

#include <gtest/gtest.h>

#include "lumlib/strings.h"

namespace {

TEST(Coexistence, LibraryAndCLibraryRoutinesAreBothCallable)
{
    char text[] = "ab\x95\x5C" "c", from[] = "xyz", to[] = "123";
    // Only the C library's searches find the terminator.
    EXPECT_EQ(::index(text, '\0'), text + 5);
    EXPECT_EQ(::rindex(text, '\0'), text + 5);
    EXPECT_EQ(lumlib::rindex(text, '\0'), nullptr);
    // The C library's bcopy takes the source first, the library's the
    // destination first.
    ::bcopy(from, to, 1);
    lumlib::bcopy(to + 1, from + 1, 1);
    EXPECT_STREQ(to, "xy3");
    // Only the library's strcasecmp keeps the case of second bytes.
    EXPECT_EQ(::strcasecmp("\x82\x41", "\x82\x61"), 0);
    EXPECT_EQ(lumlib::strcasecmp("\x82\x41", "\x82\x61"), -32);
}

}  // namespace
