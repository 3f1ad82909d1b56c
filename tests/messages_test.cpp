#include "lumlib/messages.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "support/system.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using testing_support::read_file;

// The switches as the library starts, before any test sets them.
const bool kSwitchesStartOff =
    lumlib::errfp == nullptr && lumlib::errmsg_output_flg == 0 && lumlib::errmsgWrite_flg == 0;

TEST(Messages, SwitchesStartOff) { EXPECT_TRUE(kSwitchesStartOff); }

// What errmsg writes with errfp set to standard output, where it also sets
// its flag.
template <typename... Args>
std::string written(const std::string &format, Args... args)
{
    lumlib::errfp = reinterpret_cast<FILE *>(-1);
    lumlib::errmsg_output_flg = 0;
    testing::internal::CaptureStdout();
    lumlib::errmsg(format.c_str(), args...);
    EXPECT_EQ(lumlib::errmsg_output_flg, 1);
    return testing::internal::GetCapturedStdout();
}

// The model check's arguments, and how the C library converts each: each
// tells by its text which conversion took it.
constexpr int kArgs[] = {0x141, -1};
const std::map<char, std::string> kConverted[] = {{{'c', "A"}, {'d', "321"}, {'x', "141"}},
                                                  {{'c', "\xFF"}, {'d', "-1"}, {'x', "ffffffff"}}};

// The documented editing, for the conversions that take an int. A format is
// edited only when a '%' is found stepping over the second bytes of
// two-byte characters; else it is written as it stands.
std::string message_model(const std::string &format)
{
    size_t at = 0;
    for (unsigned char byte; at < format.size() && (byte = format[at]) != '%'; ++at)
        at += (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    if (at >= format.size())
        return format;
    std::string text;
    size_t arg = 0;
    for (at = 0; text.size() < 1024 && at < format.size(); ++at) {
        const char byte = format[at], next = format[at + 1];
        if (next == '\0' || (byte != '\\' && byte != '%'))
            text += byte;
        else if (++at, byte == '\\')
            text += next;
        else if (kConverted[0].count(next) == 1)
            text += kConverted[arg++].at(next);
        else
            text += {'%', next};
    }
    return text;
}

// Every format of up to 4 bytes, one byte of each kind that matters (an
// ordinary byte, escape, conversions, a lead byte), and formats that reach
// the 1024-byte limit, against the model; then rows for the conversions of
// other types and for long texts: past 768 bytes a text that does not fit
// adds nothing, and a %f that starts just below the limit is cut at the end
// of the buffer.
TEST(Messages, EveryFormatIsWrittenAsDocumented)
{
    std::vector<std::string> formats{std::string(2000, 'z'), std::string(1500, 'a') + "%%" + std::string(498, 'b'),
                                     std::string(1023, 'n') + "%d%d", std::string(1022, 'n') + "\\%%", ""};
    for (size_t i = 4; formats[i].size() < 4; ++i)
        for (char byte : std::string("a\\%cdx\x95"))
            formats.push_back(formats[i] + byte);
    std::vector<std::pair<std::string, std::string>> rows;
    for (const std::string &format : formats)
        rows.emplace_back(written(format, kArgs[0], kArgs[1]), message_model(format));
    const std::string t1024(1024, 'x'), t1025(1025, 'y'), head(800, 'h'), edge(1023, 'e');
    const std::string huge = written(edge + "%f", 1e300);
    rows.insert(rows.end(), {{written("%d", INT_MIN), "-2147483648"}, {written("%f %d", 1.5, 7), "1.500000 7"},
        {written("[%s]", nullptr), "[(null)]"}, {written("%s", t1024.c_str()), t1024},
        {written("%s", t1025.c_str()), t1025.substr(0, 768)},
        {written("%s!", t1025.c_str()), t1025.substr(0, 768) + "!"}, {written(head + "%s!", t1025.c_str()), head + "!"},
        {huge.substr(0, 1024) + " " + std::to_string(huge.size()), edge + "1 1278"}});
    for (const auto &[got, want] : rows)
        ASSERT_EQ(got, want);
}

TEST(Messages, DestinationsFollowErrfp)
{
    testing_support::TempDir dir;
    FILE *stream = std::fopen(dir.file("stream").c_str(), "wb");
    ASSERT_NE(stream, nullptr);
    const std::tuple<FILE *, const char *, const char *> rows[] = {
        {nullptr, "", "b2a1"}, {reinterpret_cast<FILE *>(-1), "b2a1", ""}, {stream, "", "a1"}};
    for (const auto &[errfp, out, err] : rows) {
        lumlib::errfp = errfp;
        lumlib::errmsg_output_flg = 0;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        lumlib::errmsg1("b%d", 2);
        EXPECT_EQ(lumlib::errmsg_output_flg, 0);
        lumlib::errmsg("a%d", 1);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), out);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), err);
    }
    std::fclose(stream);
    EXPECT_EQ(read_file(dir.file("stream")), "b2");
}

std::string log_text() { return fs::exists("message.log") ? read_file("message.log") : "no file"; }

// errmsgf's calls in turn, each given the argument 3: the logging switch,
// the format, the result, and what "message.log" then holds (null: not
// looked at; it is written out when closed). Logging off changes nothing,
// not even for "end".
TEST(Messages, LogHoldsOneLinePerMessageSinceTheLastEnd)
{
    const std::tuple<int, const char *, int, const char *> calls[] = {
        {0, "abc", 0, "no file"}, {0, "end", 0, "no file"},  {1, "end", -1, "no file"}, {1, "abc", 10, nullptr},
        {0, "end", 0, nullptr},   {1, "abc\n", 10, nullptr}, {1, "n=%d", 10, nullptr},  {1, "end\n", 10, nullptr},
        {1, "End", 10, nullptr},  {1, "end", 0, "abc\nabc\n\nn=3\nend\n\nEnd\n"},       {1, "again", 10, nullptr},
        {1, "end", 0, "again\n"},
    };
    testing_support::TempDir dir;
    const auto cwd = fs::current_path();
    fs::current_path(dir.path());
    for (const auto &[logging, format, result, log] : calls) {
        lumlib::errmsgWrite_flg = logging;
        EXPECT_EQ(lumlib::errmsgf(format, 3), result) << format;
        if (log != nullptr) {
            EXPECT_EQ(log_text(), testing_support::text_output(log)) << format;
        }
    }
    // A log that cannot be opened drops the message; the next one tries again.
    ASSERT_TRUE(fs::remove("message.log") && fs::create_directory("message.log"));
    EXPECT_EQ(lumlib::errmsgf("lost"), -1);
    ASSERT_TRUE(fs::remove("message.log"));
    EXPECT_EQ(lumlib::errmsgf("kept"), '\n');
    EXPECT_EQ(lumlib::errmsgf("end"), 0);
    EXPECT_EQ(log_text(), testing_support::text_output("kept\n"));
    // A log on a full device: a short message waits in the stream's buffer
    // and fails when the log closes; one longer than the buffer fails at once.
    if (fs::exists("/dev/full")) {
        fs::remove("message.log");
        fs::create_symlink("/dev/full", "message.log");
        EXPECT_EQ(lumlib::errmsgf("short"), '\n');
        EXPECT_EQ(lumlib::errmsgf("end"), -1);
        EXPECT_EQ(lumlib::errmsgf(std::string(100000, 'f').c_str()), -1);
        lumlib::errmsgf("end");
    }
    fs::current_path(cwd);
}

}  // namespace
