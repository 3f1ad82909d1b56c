#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "lumlib/strings.h"

namespace {

// A copy in a heap block of exactly its size, so that the sanitizer build
// catches a read past the terminator.
std::unique_ptr<char[]> exact_copy(const std::string &text)
{
    std::unique_ptr<char[]> copy(new char[text.size() + 1]);
    std::memcpy(copy.get(), text.c_str(), text.size() + 1);
    return copy;
}

constexpr char kSentinel = '\xEE';
constexpr int kGuard = 8;

struct ParamResult {
    std::string stored;  // the bytes before the first zero
    long offset;         // where the result points in src
    std::string after;   // the byte after the stored zero, when it is within size
};

// Runs SetParam into a buffer of size bytes followed by guard bytes and
// fails the test if any guard byte was written.
ParamResult set_param(const std::string &src, int size)
{
    auto text = exact_copy(src);
    std::vector<char> out(static_cast<size_t>(std::max(size, 0) + kGuard), kSentinel);
    const char *result = lumlib::SetParam(text.get(), out.data(), size);
    for (size_t i = static_cast<size_t>(std::max(size, 0)); i < out.size(); ++i)
        EXPECT_EQ(out[i], kSentinel) << "written beyond size " << size << " at " << i << " for " << src;
    ParamResult r;
    size_t length = strnlen(out.data(), out.size());
    r.stored.assign(out.data(), length);
    if (length + 1 < static_cast<size_t>(std::max(size, 0)))
        r.after = std::string(1, out[length + 1]);
    r.offset = result - text.get();
    return r;
}

struct ParamCase {
    std::string src;
    int size;
    std::string stored;
    long offset;
};

const ParamCase kParamCases[] = {
    {"  name=value", 16, "name", 6},
    {"\"a b\" rest", 16, "a b", 4},
    {"[sect] x", 16, "[sect]", 5},
    {"[\x83\x5D]", 16, "[\x83\x5D]", 3},  // 0x5D as a second byte does not end the token
    {"[abc", 16, "[abc", 4},
    {"[abc]", 2, "[", 0},
    {"\"abc", 3, "ab", 3},
    {"", 16, "", 0},
    {"   ", 16, "", 3},
    {"=x", 16, "", 0},
    {"[abcdef]", 4, "[ab", 2},
    {"abcdef", 4, "abc", 3},
    {"abc", 4, "abc", 3},
    {"abcd", 4, "abc", 3},
    {"\tab\tc", 16, "ab", 3},
    {"\"abc", 16, "abc", 4},
    {"\"\"", 16, "", 1},
    {"\x83=b=c", 16, "\x83=b", 3},      // '=' as a second byte does not end the token
    {"\"\x83\"x\" y", 16, "\x83\"x", 4},
    {"ab\x83", 16, "ab\x83", 3},        // a lead byte before the terminator stands alone
    // Two-byte characters that do not fit whole are left out.
    {"\x82\xA0\x82\xA2\x82\xA4", 4, "\x82\xA0", 2},
    {"\x82\xA0\x82\xA2\x82\xA4", 5, "\x82\xA0\x82\xA2", 4},
    {"a\x82\xA0", 3, "a", 1},
    {"\"\x82\xA0\x82\xA2\"", 4, "\x82\xA0", 3},
    {"[\x82\xA0\x82\xA2]", 4, "[\x82\xA0", 1},  // the stop character fits whole
    {"[\x82\xA0\x82\xA2]", 5, "[\x82\xA0", 3},
    {"[\x82\xA0\x82\xA2]", 6, "[\x82\xA0\x82\xA2", 3},
    {"[\x82\xA0\x82\xA2]", 7, "[\x82\xA0\x82\xA2]", 5},
    {"[a\x82\xA0]", 4, "[a", 2},
    // Sizes below the contract: nothing beyond them is written.
    {"abc", 1, "", 0},
    {"[abc]", 1, "", 0},
};

TEST(SetParam, PinnedTokensWithinSentinelGuardedBuffers)
{
    for (const ParamCase &c : kParamCases) {
        ParamResult r = set_param(c.src, c.size);
        EXPECT_EQ(r.stored, c.stored) << testing::PrintToString(c.src) << " size " << c.size;
        EXPECT_EQ(r.offset, c.offset) << testing::PrintToString(c.src) << " size " << c.size;
    }
}

TEST(SetParam, UnclosedBracketEndsWithTwoZeros)
{
    ParamResult r = set_param("[abc", 16);
    EXPECT_EQ(r.stored, "[abc");
    EXPECT_EQ(r.after, std::string(1, '\0'));
}

TEST(SetParam, SizeBelowOneLeavesOutputUntouched)
{
    for (int size : {0, -1, INT_MIN}) {
        char out[4] = {kSentinel, kSentinel, kSentinel, kSentinel};
        const char src[] = "  abc";
        EXPECT_EQ(lumlib::SetParam(src, out, size), src + 2);
        for (char c : out)
            EXPECT_EQ(c, kSentinel);
    }
}

// The token SetParam would take with unlimited room, split into characters
// by the shared two-byte rule.
std::vector<std::string> whole_token(const std::string &src)
{
    size_t i = src.find_first_not_of(" \t");
    if (i == std::string::npos)
        return {};
    std::string ends = "= \t";
    if (src[i] == '"') {
        ++i;
        ends = "\"";
    } else if (src[i] == '[') {
        ends = "]";
    }
    std::vector<std::string> chars;
    while (i < src.size() && ends.find(src[i]) == std::string::npos) {
        unsigned char c = static_cast<unsigned char>(src[i]);
        size_t length = ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) && i + 1 < src.size() ? 2 : 1;
        chars.push_back(src.substr(i, length));
        i += length;
    }
    if (ends == "]" && i < src.size())
        chars.push_back("]");
    return chars;
}

TEST(SetParam, EverySizeStoresWholeCharactersOfTheToken)
{
    const std::string sources[] = {
        "abcdef", "\x82\xA0\x82\xA2\x82\xA4x", "a\x82\xA0" "b\x82\xA2", "\"a\x82\xA0 b\" c",
        "[\x82\xA0" "a\x82\xA2]", "[ab\x83\x5D" "c]", "[\x82\xA0\x82\xA2\x82\xA4", "  k\x82\xA0=v",
    };
    for (const std::string &src : sources) {
        std::vector<std::string> chars = whole_token(src);
        for (int size = 1; size <= static_cast<int>(src.size()) + 3; ++size) {
            ParamResult r = set_param(src, size);
            ASSERT_LT(r.stored.size(), static_cast<size_t>(size)) << src << " size " << size;
            // What is stored is the token's first characters, none split.
            std::string prefix;
            size_t taken = 0;
            while (taken < chars.size() && prefix.size() < r.stored.size())
                prefix += chars[taken++];
            EXPECT_EQ(r.stored, prefix) << testing::PrintToString(src) << " size " << size;
            // A character was left out only when it could not fit.
            if (taken < chars.size() && src[0] != '[') {
                EXPECT_GT(r.stored.size() + chars[taken].size(), static_cast<size_t>(size - 1))
                    << testing::PrintToString(src) << " size " << size;
            }
        }
    }
}

struct SkipCase {
    char *(*skip)(const char *);
    std::string text;
    long offset;
};

TEST(SkipRoutines, StopWhereThePinnedCharactersEnd)
{
    const SkipCase cases[] = {
        {lumlib::sp_skip, " \t x", 3},
        {lumlib::sp_skip, "x ", 0},
        {lumlib::sp_skip, " \n", 1},
        {lumlib::sp_skip, "  ", 2},
        {lumlib::chr_skip, "abc def", 3},
        {lumlib::chr_skip, "a\x82\x20z", 2},  // byte by byte: a second byte 0x20 is a blank
        {lumlib::chr_skip, "abc", 3},
        {lumlib::chr_skip, "ab\tc", 2},
        {lumlib::words_skip, "  ,;abc", 4},
        {lumlib::words_skip, "..x", 0},
        {lumlib::words_skip, "!!!", 3},
        {lumlib::words_skip, "/\\:-", 3},
        {lumlib::words_skip, "\x82\xA0_", 2},
        {lumlib::words_skip2, "C:\\dir/a-b_c.d e", 14},
        {lumlib::words_skip2, "abc,d", 3},
        {lumlib::words_skip2, "a\x82\x41", 1},
        {lumlib::words_skip2, "", 0},
        {lumlib::optionStr_skip, "  \"a b\" c", 7},
        {lumlib::optionStr_skip, "  'a<b' c", 4},
        {lumlib::optionStr_skip, "  abc;d", 5},
        {lumlib::optionStr_skip, "  ab\"c", 4},
        {lumlib::optionStr_skip, "  'a\"b' c", 7},
        {lumlib::optionStr_skip, "\"abc", 4},
        {lumlib::optionStr_skip, "'ab>c'", 3},
        {lumlib::optionStr_skip, "ab<c", 2},
        {lumlib::optionStr_skip, "a\tb", 1},
        {lumlib::optionStr_skip, "   ", 3},
    };
    for (const SkipCase &c : cases) {
        auto text = exact_copy(c.text);
        EXPECT_EQ(c.skip(text.get()) - text.get(), c.offset) << testing::PrintToString(c.text);
    }
}

TEST(Isnum, TestsTheFirstField)
{
    const std::pair<std::string, int> cases[] = {
        {"", 1},     {"123", 1},   {"12 abc", 1}, {" 5", 1},   {"1\n", 1},  {"9\tx", 1},
        {"12a", 0},  {"-1", 0},    {"1\r", 0},    {"+1", 0},   {"\xB1", 0}, {"0123456789", 1},
        {"/", 0},    {":", 0},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(lumlib::isnum(exact_copy(text).get()), expected) << testing::PrintToString(text);
}

TEST(StrToInt, SumsSignedNumbersAndWraps)
{
    const std::pair<std::string, int> cases[] = {
        {"10-3+2", 9},      {"-5", -5},     {"5-", 5},       {"", 0},          {"1 2", 0},
        {"--3", -3},        {"+-3", -3},    {"12x", 0},      {"007", 7},       {"4294967297", 1},
        {"-+3", 3},         {"+", 0},       {"3-x", 0},      {"\xB1", 0},
        {"2147483647", INT_MAX},
        {"2147483647+1", INT_MIN},
        {"-2147483648", INT_MIN},
        {"-2147483648-1", INT_MAX},
        {"4294967295", -1},
        {"4294967296", 0},
        {"99999999999", 1215752191},          // 99999999999 mod 2^32
        {"-99999999999", -1215752191},
        {"99999999999999999999", 1661992959},  // every step of the run wraps
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(lumlib::strToInt(exact_copy(text).get()), expected) << text;
}

struct TabCase {
    int width;
    std::string line;
    int expected;
};

TEST(ChkExptab, MeasuresTheExpandedLine)
{
    const TabCase cases[] = {
        {8, "a\tb", 10},
        {8, "", 1},
        {4, "\t\t", 9},
        {4, "ab\tc", 6},
        {3, "\t", 4},
        {1, "a\t\tb", 5},
        {8, std::string(4095, 'x'), 4096},
        {8, std::string(4096, 'x'), -1},
        {8, std::string(4088, 'x') + "\t", -1},
        {8, std::string(4087, 'x') + "\t", 4089},
        {4096, "\t", -1},
        {4095, "\t", 4096},
        {INT_MAX, "\t", -1},
        {INT_MAX, "", 1},
        // A width below 1 counts as 1: each tab is one blank.
        {0, "a\tb", 4},
        {-1, "\t\t", 3},
        {INT_MIN, "a\t", 3},
        {0, std::string(4095, '\t'), 4096},
        {0, std::string(4096, '\t'), -1},
    };
    for (const TabCase &c : cases)
        EXPECT_EQ(lumlib::chk_exptab(c.width, exact_copy(c.line).get()), c.expected)
            << "width " << c.width << " length " << c.line.size();
}

TEST(ExpTab, ExpandsTabsIntoItsBuffer)
{
    EXPECT_STREQ(lumlib::exp_tab(4, "ab\tc\td"), "ab  c   d");
    EXPECT_STREQ(lumlib::exp_tab(8, "a\tb"), "a       b");
    EXPECT_STREQ(lumlib::exp_tab(0, "a\tb\t"), "a b ");
    EXPECT_STREQ(lumlib::exp_tab(-8, "\t\t"), "  ");
    EXPECT_STREQ(lumlib::exp_tab(8, ""), "");
    EXPECT_STREQ(lumlib::exp_tab(4, "\x82\xA0\t"), "\x82\xA0  ");  // every byte is a column
    std::string longest(4095, 'y');
    EXPECT_EQ(lumlib::exp_tab(8, longest.c_str()), longest);
}

// The expansion, written from the rule: a tab stands for the blanks up to
// the next multiple of the width.
std::string model_expand(int width, const std::string &line)
{
    std::string out;
    for (char c : line) {
        if (c != '\t')
            out += c;
        else
            out.append(static_cast<size_t>(width - static_cast<int>(out.size()) % width), ' ');
    }
    return out;
}

TEST(ExpTab, LengthPlusOneIsWhatChkExptabPredicts)
{
    std::mt19937 random(8);
    int accepted = 0;
    for (int round = 0; round < 3000; ++round) {
        int width = static_cast<int>(random() % 20) - 2;
        if (random() % 10 == 0)
            width = static_cast<int>(random() % 5000);
        std::string line;
        int length = static_cast<int>(random() % 4200);
        int tab_share = static_cast<int>(random() % 5);
        for (int i = 0; i < length; ++i)
            line += static_cast<int>(random() % 8) < tab_share ? '\t' : static_cast<char>('a' + random() % 26);
        auto text = exact_copy(line);
        int predicted = lumlib::chk_exptab(width, text.get());
        std::string model = model_expand(std::max(width, 1), line);
        ASSERT_EQ(predicted, model.size() < 4096 ? static_cast<int>(model.size()) + 1 : -1)
            << "width " << width << " length " << length;
        if (predicted == -1)
            continue;
        ++accepted;
        const char *expanded = lumlib::exp_tab(width, text.get());
        ASSERT_EQ(static_cast<int>(std::strlen(expanded)) + 1, predicted);
        ASSERT_EQ(expanded, model);
    }
    EXPECT_GT(accepted, 500);
}

// The expected fatal message: the first 256 bytes of the line, right-aligned
// in 256 columns.
std::string too_long_message(const std::string &line)
{
    std::string field = line.substr(0, 256);
    return "Error: " + std::string(256 - field.size(), ' ') + field + " ... too long line\n";
}

// The death test sees the child's standard error stream alone: the child
// puts its standard output there and drops the stream of its own, so that
// the message counts only when it was written on the standard output.
void expect_fatal(int width, const std::string &line)
{
    EXPECT_EXIT(
        {
            if (dup2(fileno(stderr), fileno(stdout)) < 0)
                std::_Exit(3);
            std::fclose(stderr);
            lumlib::exp_tab(width, line.c_str());
            std::_Exit(2);
        },
        testing::ExitedWithCode(1), testing::Matcher<const std::string &>(too_long_message(line)));
}

TEST(ExpTabDeathTest, TooLongLinePrintsOnStdoutAndExitsWithOne)
{
    std::string line;
    for (int i = 0; i < 4096; ++i)
        line += static_cast<char>('A' + i % 26);
    expect_fatal(8, line);
    expect_fatal(8, std::string(4088, 'x') + "\t");
}

TEST(ExpTabDeathTest, ShortLineIsRightAlignedInTheMessage)
{
    expect_fatal(5000, "x\ty");
    expect_fatal(0, std::string(4096, '\t'));
}

}  // namespace
