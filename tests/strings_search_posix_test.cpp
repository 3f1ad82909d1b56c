// The C library of POSIX systems has an index, rindex and bcopy of its own
// (strings.h), declared here on purpose: this is the proof that a program
// can use them next to the library's. The Windows C library has none.
#include <string.h>
#include <strings.h>

#include <gtest/gtest.h>

#include "lumlib/strings.h"

namespace {

TEST(Coexistence, LibraryAndCLibraryRoutinesAreBothCallable)
{
    char text[] = "ab\x95\x5C" "c";
    // The C library's index finds the terminator, the library's never does.
    EXPECT_EQ(::index(text, '\0'), text + 5);
    EXPECT_EQ(lumlib::index(text, '\0'), nullptr);
    EXPECT_EQ(::rindex(text, '\0'), text + 5);
    EXPECT_EQ(lumlib::rindex(text, '\0'), nullptr);
    EXPECT_EQ(lumlib::rindex(text, 0x5C), text + 3);

    // The C library's bcopy takes the source first, the library's the
    // destination first.
    char from[] = "xyz", to[] = "123";
    ::bcopy(from, to, 2);
    EXPECT_STREQ(to, "xy3");
    char to2[] = "123";
    EXPECT_EQ(lumlib::bcopy(to2, from, 2), 0);
    EXPECT_STREQ(to2, "xy3");
    EXPECT_STREQ(from, "xyz");
}

}  // namespace
