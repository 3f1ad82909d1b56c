#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "sjis_model.h"

namespace {

using namespace sjis_model;

using Token = std::pair<Bytes, size_t>;  // the bytes stored, where scanning stopped

// Takes characters from `at` while the count, decreased before each, stays
// positive, no byte of `ends` is reached, and the character fits whole into
// room bytes.
Token take(const Bytes &src, size_t at, int count, int room, const char *ends)
{
    Token token{"", at};
    for (const Char &c : characters(src.substr(at), Rule::shared)) {
        if (--count <= 0 || std::strchr(ends, c.bytes[0]) || static_cast<int>((token.first + c.bytes).size()) > room)
            break;
        token.first += c.bytes;
        token.second += c.bytes.size();
    }
    return token;
}

// A quoted token without its quotes, a bracketed one with the character
// where it stopped (the ']', or the terminator), a bare one.
Token set_param(const Bytes &src, int size)
{
    const size_t start = std::min(src.find_first_not_of(" \t"), src.size());
    if (src[start] == '"')
        return take(src, start + 1, size, size - 1, "\"");
    if (src[start] != '[')
        return take(src, start, size, size - 1, "= \t");
    Token token = take(src, start, size - 1, size - 2, "]");
    const auto rest = characters(src.substr(token.second), Rule::shared);
    const Bytes stop = rest.empty() ? Bytes(1, '\0') : rest[0].bytes;
    token.first += static_cast<int>((token.first + stop).size()) < size ? stop : "";
    return token;
}

TEST(SetParam, EveryTextAndSizeAgreeWithTheModel)
{
    for (const Bytes &src : all_strings(" \"[]=a\x81", 5)) {
        SCOPED_TRACE(shown(src));
        for (int size = -1; size <= static_cast<int>(src.size()) + 2; ++size) {
            // A size below 1 leaves the buffer untouched.
            const Bytes slack(static_cast<size_t>(size) + 2, '~'), start = src.substr(0, src.find_first_not_of(" \t"));
            const Token expected = size < 1 ? Token{"", start.size()} : set_param(src, size);
            Bytes out = slack;
            Exact text(src);
            EXPECT_EQ(text.offset(lumlib::SetParam(text.get(), out.data(), size)), expected.second) << size;
            EXPECT_EQ(out, size < 1 ? slack : (expected.first + '\0' + slack).substr(0, slack.size())) << size;
        }
    }
}

size_t first_of(const Bytes &s, const Bytes &set, size_t from = 0)
{
    return std::min(s.find_first_of(set, from), s.size());
}

TEST(SkipRoutines, EveryTextAgreesWithTheModel)
{
    const Bytes digits = "0123456789", word = digits + "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_.";
    // Blanks, quotes, redirections and the classes of the word routines with
    // their neighbours in the byte order.
    for (const Bytes &s : all_strings(" \t\n\r\"'<>;,/09:@AZ[\\`az{-_.\x81", 3)) {
        SCOPED_TRACE(shown(s));
        Exact text(s);
        const size_t start = std::min(s.find_first_not_of(" \t"), s.size());
        const bool quoted = s[start] == '"' || s[start] == '\'';
        size_t option_end = quoted ? first_of(s, {s[start], '<', '>'}, start + 1) : first_of(s, " \t\"'<>;", start);
        option_end += quoted && s[option_end] == s[start];
        EXPECT_EQ(text.offset(lumlib::sp_skip(text.get())), start);
        EXPECT_EQ(text.offset(lumlib::chr_skip(text.get())), first_of(s, " \t"));
        EXPECT_EQ(text.offset(lumlib::words_skip(text.get())), first_of(s, word));
        EXPECT_EQ(text.offset(lumlib::words_skip2(text.get())), std::min(s.find_first_not_of(word + "/\\:"), s.size()));
        EXPECT_EQ(text.offset(lumlib::optionStr_skip(text.get())), option_end);
        EXPECT_EQ(lumlib::isnum(text.get()), s.find_first_not_of(digits) >= first_of(s, " \t\n"));
    }
}

// The sum of the signed numbers, or 0 at any other byte.
long long sum_of(const Bytes &s)
{
    long long sum = 0, sign = 1;
    for (size_t i = 0, digits = 0; i < s.size(); i += std::max<size_t>(digits, 1)) {
        digits = std::min(s.find_first_not_of("0123456789", i), s.size()) - i;
        if (digits == 0 && s[i] != '+' && s[i] != '-')
            return 0;
        sign = digits > 0 ? sign : s[i] == '-' ? -1 : 1;
        sum += digits > 0 ? sign * std::stoll(s.substr(i, digits)) : 0;
    }
    return sum;
}

TEST(StrToInt, EveryShortTextAndTheWrappingRows)
{
    for (const Bytes &s : all_strings("09:+- ", 5))
        EXPECT_EQ(lumlib::strToInt(Exact(s).get()), sum_of(s)) << shown(s);
    const std::pair<Bytes, int> rows[] = {
        {"2147483647", INT_MAX}, {"2147483647+1", INT_MIN}, {"-2147483648-1", INT_MAX}, {"4294967295", -1},
        {"4294967297", 1},       {"-99999999999", -1215752191}, {"99999999999999999999", 1661992959},
    };
    for (const auto &[text, value] : rows)  // every step wraps modulo 2^32
        EXPECT_EQ(lumlib::strToInt(Exact(text).get()), value) << text;
}

// The line with each tab expanded to the next multiple of the width, up to
// where it is too long.
Bytes expanded(int width, const Bytes &line)
{
    Bytes out;
    for (char c : line)
        out.append(c == '\t' ? std::min(width - static_cast<int>(out.size()) % width, 4096) : 1, c == '\t' ? ' ' : c);
    return out;
}

// Every short line with small widths, and lines near the limit of 4095
// columns; a width below 1 counts as 1.
TEST(TabExpansion, EveryShortLineAndTheLongRowsAgreeWithTheModel)
{
    std::vector<std::pair<int, Bytes>> rows = {
        {8, Bytes(4095, 'x')}, {8, Bytes(4096, 'x')}, {8, Bytes(4088, 'x') + "\t"}, {8, Bytes(4087, 'x') + "\t"},
        {4095, "\t"},         {4096, "\t"},         {INT_MAX, "\t"},              {0, Bytes(4095, '\t')},
        {INT_MIN, Bytes(4096, '\t')},
    };
    for (const Bytes &line : all_strings("a\t\x81", 4))
        for (int width : {-1, 0, 1, 2, 3, 4, 8})
            rows.emplace_back(width, line);
    for (const auto &[width, line] : rows) {
        const Bytes out = expanded(std::max(width, 1), line);
        const Exact text(line);
        SCOPED_TRACE(shown(line.substr(0, 8)) + std::to_string(line.size()) + " width " + std::to_string(width));
        EXPECT_EQ(lumlib::chk_exptab(width, text.get()), out.size() < 4096 ? static_cast<int>(out.size()) + 1 : -1);
        EXPECT_EQ(out.size() < 4096 ? lumlib::exp_tab(width, text.get()) : out, out);
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
            dup2(fileno(stderr), fileno(stdout));
            std::fclose(stderr);
            lumlib::exp_tab(width, line.c_str());
            std::_Exit(2);
        },
        testing::ExitedWithCode(1), testing::Matcher<const std::string &>(message));
}

TEST(TabExpansionDeathTest, ATooLongLineEndsTheProcessWithAMessageOnStandardOutput)
{
    Bytes letters;
    for (int i = 0; i < 4096; ++i)
        letters += static_cast<char>('A' + i % 26);
    expect_too_long(8, letters);
    expect_too_long(5000, "x\ty");
}

}  // namespace
