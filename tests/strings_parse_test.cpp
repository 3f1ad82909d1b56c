#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "lumlib/strings.h"
#include "sjis_model.h"

namespace {

using namespace sjis_model;

struct Token {
    Bytes stored;
    size_t stop;
};

// Takes characters from `at` while the count, decreased before each, stays
// positive, no byte of `ends` (or the terminator) is reached, and the
// character fits whole into room bytes.
Token take(const Bytes &src, size_t at, int count, int room, const char *ends)
{
    Token token{"", at};
    for (const Char &c : characters(src.substr(at), Rule::shared)) {
        if (--count <= 0 || std::strchr(ends, c.bytes[0]) != nullptr ||
            static_cast<int>(token.stored.size() + c.bytes.size()) > room)
            break;
        token.stored += c.bytes;
        token.stop += c.bytes.size();
    }
    return token;
}

Token set_param(const Bytes &src, int size)
{
    const size_t start = std::min(src.find_first_not_of(" \t"), src.size());
    if (src[start] == '"')
        return take(src, start + 1, size, size - 1, "\"");
    if (src[start] != '[')
        return take(src, start, size, size - 1, "= \t");
    // The character where scanning stopped is stored too, if it fits.
    Token token = take(src, start, size - 1, size - 2, "]");
    const auto rest = characters(src.substr(token.stop), Rule::shared);
    const Bytes stop = rest.empty() ? Bytes(1, '\0') : rest[0].bytes;
    if (static_cast<int>(token.stored.size() + stop.size()) <= size - 1)
        token.stored += stop;
    return token;
}

TEST(SetParam, EveryTextAndSizeAgreeWithTheModel)
{
    for (const Bytes &src : all_strings(" \"[]=a\x81", 5)) {
        for (int size = 1; size <= static_cast<int>(src.size()) + 2; ++size) {
            const Token expected = set_param(src, size);
            Exact text(src);
            const Bytes slack(static_cast<size_t>(size) + 2, '~');
            Bytes out = slack;
            const char *stop = lumlib::SetParam(text.get(), out.data(), size);
            EXPECT_EQ(text.offset(stop), long(expected.stop)) << shown(src) << size;
            EXPECT_EQ(out, (expected.stored + '\0' + slack).substr(0, slack.size())) << shown(src) << size;
        }
    }
    for (int size : {0, -1, INT_MIN}) {
        const char src[] = " \tab";
        char out[] = "~";
        EXPECT_EQ(lumlib::SetParam(src, out, size), src + 2);
        EXPECT_STREQ(out, "~");
    }
}

// Blanks, tabs, quotes, redirections and the classes of the word routines
// with their neighbours in the byte order.
const Bytes kParseBytes = " \t\n\r\"'<>;,/09:@AZ[\\`az{-_.\x81";

size_t first_of(const Bytes &s, const char *set, size_t from = 0)
{
    return std::min(s.find_first_of(set, from), s.size());
}

TEST(SkipRoutines, EveryTextAgreesWithTheModel)
{
    const std::string word = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_.";
    for (const Bytes &s : all_strings(kParseBytes, 3)) {
        Exact text(s);
        const size_t start = std::min(s.find_first_not_of(" \t"), s.size());
        size_t option_end = first_of(s, " \t\"'<>;", start);
        if (s[start] == '"' || s[start] == '\'') {
            const char ends[] = {s[start], '<', '>', '\0'};
            option_end = first_of(s, ends, start + 1);
            option_end += s[option_end] == s[start];
        }
        EXPECT_EQ(text.offset(lumlib::sp_skip(text.get())), long(start)) << shown(s);
        EXPECT_EQ(text.offset(lumlib::chr_skip(text.get())), long(first_of(s, " \t"))) << shown(s);
        EXPECT_EQ(text.offset(lumlib::words_skip(text.get())), long(first_of(s, word.c_str()))) << shown(s);
        const size_t path_end = std::min(s.find_first_not_of(word + "/\\:"), s.size());
        EXPECT_EQ(text.offset(lumlib::words_skip2(text.get())), long(path_end)) << shown(s);
        EXPECT_EQ(text.offset(lumlib::optionStr_skip(text.get())), long(option_end)) << shown(s);
        const size_t field_end = first_of(s, " \t\n");
        EXPECT_EQ(lumlib::isnum(text.get()), s.find_first_not_of("0123456789") >= field_end) << shown(s);
    }
}

// The sum of the signed numbers, or 0 at any other byte.
long long sum_of(const Bytes &s)
{
    long long sum = 0, sign = 1;
    for (size_t i = 0; i < s.size();) {
        const size_t digits = std::min(s.find_first_not_of("0123456789", i), s.size()) - i;
        if (digits > 0)
            sum += sign * std::stoll(s.substr(i, digits));
        else if (s[i] == '+' || s[i] == '-')
            sign = s[i] == '-' ? -1 : 1;
        else
            return 0;
        i += std::max<size_t>(digits, 1);
    }
    return sum;
}

TEST(StrToInt, EveryShortTextAndTheWrappingRows)
{
    for (const Bytes &s : all_strings("09:+- x", 5))
        EXPECT_EQ(lumlib::strToInt(Exact(s).get()), sum_of(s)) << shown(s);
    const std::pair<Bytes, int> rows[] = {
        {"2147483647", INT_MAX},         {"2147483647+1", INT_MIN},      {"-2147483648-1", INT_MAX},
        {"4294967295", -1},              {"4294967297", 1},              {"-99999999999", -1215752191},
        {"99999999999999999999", 1661992959},  // every step of the run wraps modulo 2^32
    };
    for (const auto &[text, value] : rows)
        EXPECT_EQ(lumlib::strToInt(Exact(text).get()), value) << text;
}

// The line with each tab expanded to the next multiple of the width.
Bytes expanded(int width, const Bytes &line)
{
    Bytes out;
    for (char c : line)
        out += c == '\t' ? Bytes(static_cast<size_t>(width - static_cast<int>(out.size()) % width), ' ') : Bytes(1, c);
    return out;
}

TEST(TabExpansion, EveryShortLineAndWidthAgreeWithTheModel)
{
    for (const Bytes &line : all_strings("a\t\x81", 4)) {
        for (int width : {-1, 0, 1, 2, 3, 4, 8}) {
            const Bytes out = expanded(std::max(width, 1), line);
            const Exact text(line);
            EXPECT_EQ(lumlib::chk_exptab(width, text.get()), static_cast<int>(out.size()) + 1) << shown(line) << width;
            EXPECT_EQ(lumlib::exp_tab(width, text.get()), out) << shown(line) << width;
        }
    }
}

// Lines near the limit of 4095 columns.
TEST(TabExpansion, LongLinesAndWidths)
{
    const struct {
        int width;
        Bytes line;
        int needs;
    } rows[] = {
        {8, Bytes(4095, 'x'), 4096}, {8, Bytes(4096, 'x'), -1},     {8, Bytes(4088, 'x') + "\t", -1},
        {8, Bytes(4087, 'x') + "\t", 4089}, {4095, "\t", 4096}, {4096, "\t", -1},
        {INT_MAX, "\t", -1},        {0, Bytes(4095, '\t'), 4096},  {INT_MIN, Bytes(4096, '\t'), -1},
    };
    for (const auto &row : rows) {
        const Exact line(row.line);
        EXPECT_EQ(lumlib::chk_exptab(row.width, line.get()), row.needs) << row.width << ' ' << row.line.size();
        if (row.needs > 0) {
            EXPECT_EQ(lumlib::exp_tab(row.width, line.get()), expanded(std::max(row.width, 1), row.line));
        }
    }
}

// The child puts its standard output on the standard error stream, which
// the death test reads, and drops the stream of its own: the message counts
// only when it was written on the standard output.
void expect_too_long(int width, const Bytes &line)
{
    const Bytes field = line.substr(0, 256);
    const Bytes message = "Error: " + Bytes(256 - field.size(), ' ') + field + " ... too long line\n";
    EXPECT_EXIT(
        {
            if (dup2(fileno(stderr), fileno(stdout)) < 0)
                std::_Exit(3);
            std::fclose(stderr);
            lumlib::exp_tab(width, line.c_str());
            std::_Exit(2);
        },
        testing::ExitedWithCode(1), testing::Matcher<const std::string &>(message));
}

TEST(TabExpansionDeathTest, ATooLongLineEndsTheProcessWithAMessageOnStandardOutput)
{
    Bytes alphabet_run;
    for (int i = 0; i < 4096; ++i)
        alphabet_run += static_cast<char>('A' + i % 26);
    expect_too_long(8, alphabet_run);
    expect_too_long(5000, "x\ty");
}

}  // namespace
