#include "lumlib/messages.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/temp_dir.h"

namespace {

using testing_support::read_file;
using testing_support::TempDir;

std::string edit(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = lumlib::err_edit(format, args);
    va_end(args);
    return text;
}

FILE *const kStdout = reinterpret_cast<FILE *>(-1);

// Every test starts from the library's initial state.
class MessagesTest : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset()
    {
        lumlib::errfp = nullptr;
        lumlib::errmsg_output_flg = 0;
        lumlib::errmsgWrite_flg = 0;
    }
};

struct EditCase {
    std::string format;
    std::string expected;
};

TEST_F(MessagesTest, EditsConversionsAndEscapes)
{
    const EditCase cases[] = {
        {"C:\\TMP %d\n", "C:TMP 5\n"},  // the backslash makes 'T' literal and is dropped
        {"\\%d", "%d"},                   // an escaped '%' starts no conversion
        {"\\\\%%", "\\%%"},
        {"100%%\n", "100%%\n"},
        {"end\\", "end\\"},               // a lone backslash at the end is kept
        {"end%", "end%"},                 // so is a lone '%'
        {"%5d", "%5d"},                   // no widths: '%5' then an ordinary 'd'
        {"%u%l%S%", "%u%l%S%"},
        // A second byte 0x5C escapes like any backslash once the text is edited.
        {"\x95\\n%%", "\x95n%%"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(edit(c.format.c_str(), 5), c.expected) << c.format;
}

TEST_F(MessagesTest, TakesArgumentsInTheOrderOfTheConversions)
{
    EXPECT_EQ(edit("%c%c", 'A', 'B'), "AB");
    EXPECT_EQ(edit("%x", 255), "ff");
    EXPECT_EQ(edit("%x", -1), "ffffffff");
    EXPECT_EQ(edit("%d", -1), "-1");
    EXPECT_EQ(edit("%d", -2147483647 - 1), "-2147483648");
    EXPECT_EQ(edit("%f %d", 1.5, 7), "1.500000 7");
    EXPECT_EQ(edit("%5d %d", 42), "%5d 42");
    EXPECT_EQ(edit("%c", 0x141), "A");
    EXPECT_EQ(edit("[%s]", nullptr), "[(null)]");
}

TEST_F(MessagesTest, CutsLongTextsAtTheirLimits)
{
    std::string t1024(1024, 'x'), t1025(1025, 'y');
    EXPECT_EQ(edit("%s", t1024.c_str()), t1024);
    EXPECT_EQ(edit("%s", t1025.c_str()), t1025.substr(0, 768));
    EXPECT_EQ(edit("%s!", t1025.c_str()), t1025.substr(0, 768) + "!");
    // Past 768 bytes a text that does not fit adds nothing; the rest of the
    // format still does.
    std::string head(800, 'h');
    EXPECT_EQ(edit((head + "%s!").c_str(), t1025.c_str()), head + "!");
    // An edited format stops at 1024 bytes.
    std::string long_format = std::string(1500, 'a') + "%%" + std::string(498, 'b');
    EXPECT_EQ(edit(long_format.c_str()), std::string(1024, 'a'));
    // The step that starts below the limit may cross it, by its own length.
    std::string near = std::string(1020, 'n') + "%d";
    EXPECT_EQ(edit(near.c_str(), -123456789), std::string(1020, 'n') + "-123456789");
    // A huge %f at the limit is cut to the buffer, not written past it.
    std::string edge = std::string(1023, 'e') + "%f";
    std::string huge = edit(edge.c_str(), 1e300);
    EXPECT_EQ(huge.substr(0, 1024), std::string(1023, 'e') + "1");
    EXPECT_EQ(huge.size(), 1278u);
}

TEST_F(MessagesTest, FormatWithoutPercentIsWrittenAsItStands)
{
    std::string two_thousand(2000, 'z');
    testing::internal::CaptureStderr();
    lumlib::errmsg("C:\\TMP\n");
    lumlib::errmsg(two_thousand.c_str());
    // The '%' here is the second byte of a two-byte character.
    lumlib::errmsg("\x95%d\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "C:\\TMP\n" + two_thousand + "\x95%d\n");
}

TEST_F(MessagesTest, DestinationsFollowErrfp)
{
    TempDir dir;
    std::string path = dir.file("stream");
    FILE *stream = std::fopen(path.c_str(), "w");
    ASSERT_NE(stream, nullptr);

    struct Case {
        FILE *errfp;
        std::string out, err, stream;
    };
    const Case cases[] = {
        {nullptr, "", "a1b2", ""},
        {kStdout, "a1b2", "", ""},
        {stream, "", "a1", "b2"},
    };
    for (const auto &c : cases) {
        lumlib::errfp = c.errfp;
        long stream_before = std::ftell(stream);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        lumlib::errmsg("a%d", 1);
        lumlib::errmsg1("b%d", 2);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
        EXPECT_EQ(std::ftell(stream) - stream_before, static_cast<long>(c.stream.size()));
    }
    std::fclose(stream);
    EXPECT_EQ(read_file(path), "b2");
}

TEST_F(MessagesTest, OnlyErrmsgSetsTheOutputFlag)
{
    lumlib::errfp = kStdout;
    testing::internal::CaptureStdout();
    lumlib::errmsg1("quiet\n");
    EXPECT_EQ(lumlib::errmsg_output_flg, 0);
    lumlib::errmsg("loud\n");
    EXPECT_EQ(lumlib::errmsg_output_flg, 1);
    testing::internal::GetCapturedStdout();
}

// errmsgf writes "message.log" in the current directory.
class LogTest : public MessagesTest {
protected:
    void SetUp() override
    {
        MessagesTest::SetUp();
        std::filesystem::current_path(dir_.path());
    }
    void TearDown() override
    {
        lumlib::errmsgWrite_flg = 1;
        lumlib::errmsgf("end");
        std::filesystem::current_path(cwd_);
        MessagesTest::TearDown();
    }
    // A text file: read as text, its lines end in "\n" on every system.
    std::string log() const
    {
        std::ifstream in(dir_.file("message.log"));
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    bool log_exists() const { return std::filesystem::exists(dir_.file("message.log")); }

    TempDir dir_;
    std::filesystem::path cwd_ = std::filesystem::current_path();
};

TEST_F(LogTest, DoesNothingWhileLoggingIsOff)
{
    EXPECT_EQ(lumlib::errmsgf("abc"), 0);
    EXPECT_EQ(lumlib::errmsgf("end"), 0);
    EXPECT_FALSE(log_exists());
}

TEST_F(LogTest, WritesEachMessageAsOneLine)
{
    lumlib::errmsgWrite_flg = 1;
    EXPECT_EQ(lumlib::errmsgf("abc"), '\n');
    EXPECT_EQ(lumlib::errmsgf("abc\n"), '\n');
    EXPECT_EQ(lumlib::errmsgf("n=%d", 3), '\n');
    EXPECT_EQ(lumlib::errmsgf("end\n"), '\n');  // not the closing command
    EXPECT_EQ(lumlib::errmsgf("End"), '\n');
    EXPECT_EQ(lumlib::errmsgf("end"), 0);
    EXPECT_EQ(log(), "abc\nabc\n\nn=3\nend\n\nEnd\n");
}

TEST_F(LogTest, EndWithoutALogFails)
{
    lumlib::errmsgWrite_flg = 1;
    EXPECT_EQ(lumlib::errmsgf("end"), -1);
}

TEST_F(LogTest, MessageAfterEndStartsTheFileAnew)
{
    lumlib::errmsgWrite_flg = 1;
    lumlib::errmsgf("first");
    lumlib::errmsgf("second");
    EXPECT_EQ(lumlib::errmsgf("end"), 0);
    lumlib::errmsgf("third");
    EXPECT_EQ(lumlib::errmsgf("end"), 0);
    EXPECT_EQ(log(), "third\n");
}

TEST_F(LogTest, SwitchingLoggingOffKeepsTheLogOpen)
{
    lumlib::errmsgWrite_flg = 1;
    lumlib::errmsgf("kept");
    lumlib::errmsgWrite_flg = 0;
    EXPECT_EQ(lumlib::errmsgf("end"), 0);
    lumlib::errmsgWrite_flg = 1;
    lumlib::errmsgf("also kept");
    EXPECT_EQ(lumlib::errmsgf("end"), 0);
    EXPECT_EQ(log(), "kept\nalso kept\n");
}

TEST_F(LogTest, UnopenableLogDropsTheMessageAndTriesAgain)
{
    lumlib::errmsgWrite_flg = 1;
    std::string blocker = dir_.file("message.log");
    ASSERT_TRUE(std::filesystem::create_directory(blocker));
    EXPECT_EQ(lumlib::errmsgf("lost"), -1);
    ASSERT_TRUE(std::filesystem::remove(blocker));
    EXPECT_EQ(lumlib::errmsgf("kept"), '\n');
    EXPECT_EQ(lumlib::errmsgf("end"), 0);
    EXPECT_EQ(log(), "kept\n");
}

}  // namespace
