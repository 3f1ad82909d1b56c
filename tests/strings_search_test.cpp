#include <algorithm>
#include <climits>
#include <cstdio>
#include <numeric>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "lumlib/strings.h"

namespace {

// A string in a heap block of exactly its size, so that the sanitizer build
// catches any read past the terminator.
class Text {
public:
    explicit Text(const std::string &bytes) : buf_(bytes.begin(), bytes.end()) { buf_.push_back('\0'); }
    const char *str() const { return buf_.data(); }
    const char *at(int offset) const { return buf_.data() + offset; }
    // Offset of a result inside this text, -1 for null.
    int offset(const char *p) const { return p == nullptr ? -1 : static_cast<int>(p - buf_.data()); }

private:
    std::vector<char> buf_;
};

// Text with its bytes escaped, for traces.
std::string shown(const std::string &bytes) { return ::testing::PrintToString(bytes) + " "; }

// ---- One-byte searches: all four routines over the same texts -------------

struct ByteSearchCase {
    std::string text;
    int c;
    int strchr_at, strrchr_at, index_at, rindex_at;
};

const ByteSearchCase kByteSearches[] = {
    {"", 'a', -1, -1, -1, -1},
    {"abc", 0, -1, -1, -1, -1},
    {"abca", 'a', 0, 3, 0, 3},
    {"abc", 'c' + 0x100, 2, 2, 2, 2},    // only the low 8 bits count
    {"abc", 'c' - 0x100, 2, 2, 2, 2},    // also for negative arguments
    {"abc", 0x100, -1, -1, -1, -1},      // low byte zero
    {"\x95\x5C\x5C" "x", 0x5C, 2, 2, 1, 2},
    {"\x95\x5C", 0x5C, -1, -1, 1, 1},
    {"\x95\x5C\x5C" "x", 0x15C, 2, 2, 1, 2},
    {"\x81..", '.', 2, 2, 1, 2},
    {"\x81**", '*', 2, 2, 1, 2},
    {"\x81\"\"", '"', 2, 2, 1, 2},
    {"a\x82\xA0", 0x82, 1, 1, 1, 1},
    {"\x82\xA0", 0xA0, -1, -1, 1, 1},
    {"a\x82", 0x82, 1, 1, 1, 1},         // lone lead byte at the end
    {"\x82\x82\x82", 0x82, 0, 2, 0, 2},  // 82 82 is a character, the last 82 alone
    {"\x80" "a", 'a', 1, 1, 1, 1},       // 0x80 is no lead byte
    {"\x81" "a", 'a', -1, -1, 1, 1},
    {"\x9F" "a", 'a', -1, -1, 1, 1},
    {"\xA0" "a", 'a', 1, 1, 1, 1},
    {"\xDF" "a", 'a', 1, 1, 1, 1},
    {"\xE0" "a", 'a', -1, -1, 1, 1},
    {"\xFC" "a", 'a', -1, -1, 1, 1},
    {"\xFD" "a", 'a', 1, 1, 1, 1},
    {"\xFE" "a", 'a', 1, 1, 1, 1},
    {"\xFF" "a", 'a', 1, 1, 1, 1},
    {"a\x80\x80", 0x80, 1, 2, 1, 2},
    {"\xFF\xFF", -1, 0, 1, 0, 1},        // -1 is 0xFF
    {"\xFF\xFF", 0x1FF, 0, 1, 0, 1},
};

TEST(ByteSearch, FirstAndLastMatchRespectTwoByteCharacters)
{
    for (const auto &tc : kByteSearches) {
        SCOPED_TRACE(shown(tc.text) + "search " + std::to_string(tc.c));
        Text t(tc.text);
        EXPECT_EQ(t.offset(lumlib::Strchr(t.str(), tc.c)), tc.strchr_at);
        EXPECT_EQ(t.offset(lumlib::Strrchr(t.str(), tc.c)), tc.strrchr_at);
        EXPECT_EQ(t.offset(lumlib::index(t.str(), tc.c)), tc.index_at);
        EXPECT_EQ(t.offset(lumlib::rindex(t.str(), tc.c)), tc.rindex_at);
    }
}

// ---- Pattern searches ---------------------------------------------------------

struct PatternCase {
    std::string text, pattern;
    int at;
};

template <size_t N>
void expect_pattern_search(const PatternCase (&cases)[N], char *(*search)(const char *, const char *))
{
    for (const auto &tc : cases) {
        SCOPED_TRACE(shown(tc.text) + "pattern " + shown(tc.pattern));
        Text t(tc.text), p(tc.pattern);
        EXPECT_EQ(t.offset(search(t.str(), p.str())), tc.at);
    }
}

const PatternCase kIndex1[] = {
    {"aabab", "bab", 2},
    {"abc", "", 0},
    {"", "", -1},
    {"", "a", -1},
    {"ab", "abc", -1},
    {"xab", "abc", -1},
    {"ab", "ab", 0},
    {"\x82" "a", "a", 1},           // plain byte search: second bytes count
    {"\x95\x5C\x5C", "\x5C", 1},
    {"\x81.x", ".x", 1},
    {"a\x82", "\x82", 1},           // lone lead byte before the terminator
    {"a\x82", "\x82\xA0", -1},      // the pattern runs past the end
    {"\xFD\xFE\xFF", "\xFE\xFF", 1},
};

TEST(Index1, FindsThePatternAtAnyByte) { expect_pattern_search(kIndex1, lumlib::index1); }

const PatternCase kSerstr[] = {
    {"xxabcab", "ab", 2},
    {"abc", "", -1},
    {"", "", -1},
    {"\x82" "ab", "ab", -1},        // 'a' is a code page 932 second byte
    {"\x82 b", " b", 1},            // 0x20 is no trail byte: 82 stands alone
    {"\x82\x7F" "b", "\x7F" "b", 1},
    {"a\x82\xA0", "\x82", 1},
    {"a\x82", "\x82", 1},           // lone lead byte before the terminator
    {"xab", "abc", -1},
    {"\x95\x5C\x5C", "\x5C", 2},
    {"\x81..", ".", 1},             // 0x2E is no trail byte
    {"\x81**", "*", 1},
    {"\x81\"", "\"", 1},
    {"\x81\x80x", "\x80", -1},      // 0x80 is a trail byte
    {"\x81\xA0x", "\xA0", -1},
    {"\x81\xFCx", "\xFC", -1},
    {"\x81\xFDx", "\xFD", 1},       // 0xFD-0xFF are not
    {"\x81\xFEx", "\xFEx", 1},
    {"\x81\xFF", "\xFF", 1},
    {"\x80\x40", "\x40", 1},        // 0x80 and 0xA0 lead nothing
    {"\xA0\x40", "\x40", 1},
    {"\x82\xA0\x82\xA0", "\xA0\x82", -1},
    {"a\x82\xA0", "\x82\xA0", 1},
};

TEST(Serstr, MatchesOnlyAtCodePage932CharacterStarts) { expect_pattern_search(kSerstr, lumlib::serstr); }

const PatternCase kIndex2[] = {
    {"ab,c", ";,", 2},
    {"\x95\x5C\x5C", "\x5C", 2},
    {"\x82\xA0", "\x82", -1},       // never the first byte of a character
    {"\x82\xA0", "\xA0", -1},
    {"a\x82", "\x82", 1},           // but a lone lead byte before the end
    {"abc", "", -1},
    {"", "a", -1},
    {"\x81..", ".", 2},
    {"\x81**", "*?", 2},
    {"\x81\"\"", "\"", 2},
    {"\x80\xA0\xFD\xFE\xFF", "\xFF\xA0", 1},
    {"\xFC\xFF\xFF", "\xFF", 2},
};

TEST(Index2, FindsOneByteCharactersFromTheSet) { expect_pattern_search(kIndex2, lumlib::index2); }

// ---- Scanning -------------------------------------------------------------

struct FlagCase {
    std::string text;
    std::vector<char> flags;
};

const FlagCase kFlags[] = {
    {"", {}},
    {"a\x82\xA0" "b\x82", {0, 1, 2, 0, 0}},
    {"\x95\x5C\x5C", {1, 2, 0}},
    {"\x81.\x81*\x81\"", {1, 2, 1, 2, 1, 2}},
    {"\x80\xA0\xFD\xFE\xFF", {0, 0, 0, 0, 0}},
    {"\x81\x81\x81", {1, 2, 0}},
    {"\xFC", {0}},
};

TEST(SetKanjiFlg, WritesOneFlagPerByteAndNothingMore)
{
    constexpr char kSentinel = 0x55;
    for (const auto &tc : kFlags) {
        SCOPED_TRACE(shown(tc.text));
        Text t(tc.text);
        std::vector<char> flags(tc.text.size() + 4, kSentinel);
        EXPECT_EQ(lumlib::set_kanji_flg(t.str(), flags.data()), 0);
        std::vector<char> expected = tc.flags;
        expected.resize(flags.size(), kSentinel);
        EXPECT_EQ(flags, expected);
    }
}

struct EndposCase {
    std::string text;
    int limit, at;
};

const EndposCase kEndpos[] = {
    {"ab\x82\xA0" "c", 3, 2},
    {"ab\x82\xA0" "c", 4, 4},
    {"ab\x82\xA0" "c", 5, 5},
    {"ab\x82\xA0" "c", INT_MAX, 5},
    {"ab\x82\xA0" "c", 0, 0},
    {"ab\x82\xA0" "c", -1, 0},
    {"ab\x82\xA0" "c", INT_MIN, 0},
    {"\xB1\xB2", 1, 1},             // half-width katakana are one byte
    {"\xA1\xDF", 1, 1},
    {"\x80" "A", 1, 0},             // 0x80, 0xA0 and 0xFD-0xFF lead
    {"\xA0" "A", 1, 0},
    {"\xFD" "Az", 2, 2},
    {"\xFE" "Az", 1, 0},
    {"\xFF" "Az", 2, 2},
    {"\x82", 1, 1},                 // lone lead byte before the terminator
    {"a\xFF", 2, 2},
    {"a\xFF", INT_MAX, 2},
    {"", 5, 0},
    {"\x81\x5C\x81.", 3, 2},
};

TEST(CharcodeEndpos, CutsBeforeACharacterThatWouldNotFit)
{
    for (const auto &tc : kEndpos) {
        SCOPED_TRACE(shown(tc.text) + "limit " + std::to_string(tc.limit));
        Text t(tc.text);
        EXPECT_EQ(t.offset(lumlib::charcode_endpos(t.str(), tc.limit)), tc.at);
    }
}

struct PrechCase {
    std::string text;
    int pos, at;
};

const PrechCase kPrech[] = {
    {"ab\x82\xA0" "c", 4, 2},
    {"ab\x82\xA0" "c", 3, 2},       // on a second byte: its first byte
    {"ab\x82\xA0" "c", 5, 4},
    {"ab\x82\xA0" "c", 1, 0},
    {"ab\x82\xA0" "c", 0, -1},
    {"ab", 10, 1},                  // far beyond the terminator
    {"a\x82", 2, 1},
    {"a\x82", 3, 1},
    {"", 0, -1},
    {"", 4, -1},
    {"\x95\x5C\x5C", 3, 2},
    {"\x95\x5C\x5C", 2, 0},
    {"\x80\xA0\xFF", 3, 2},
};

TEST(GetPrech, FindsTheCharacterBeforeAPosition)
{
    for (const auto &tc : kPrech) {
        SCOPED_TRACE(shown(tc.text) + "pos " + std::to_string(tc.pos));
        // Room for positions beyond the terminator, filled with lead bytes
        // that would change the result if the walk went past the end.
        std::string bytes = tc.text + '\0' + std::string(12, '\x81');
        const char *s = bytes.data();
        const char *r = lumlib::get_prech(s, s + tc.pos);
        EXPECT_EQ(r == nullptr ? -1 : r - s, tc.at);
    }
}

// ---- Randomized comparison with a model of the boundary rules --------------

// The three rules, written afresh from their definitions over a string that
// is the text up to its terminator.
enum class Rule { shared, cp932, split };

bool model_lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

bool model_two_bytes(const std::string &s, size_t i, Rule rule)
{
    if (i + 1 >= s.size())
        return false;
    unsigned char c = s[i], next = s[i + 1];
    switch (rule) {
    case Rule::shared: return model_lead(c);
    case Rule::cp932: return model_lead(c) && ((next >= 0x40 && next <= 0x7E) || (next >= 0x80 && next <= 0xFC));
    case Rule::split: return c >= 0x80 && !(c >= 0xA1 && c <= 0xDF);
    }
    return false;
}

// Character starts under a rule, plus the text's length as the last entry.
std::vector<size_t> model_starts(const std::string &s, Rule rule)
{
    std::vector<size_t> starts;
    for (size_t i = 0; i < s.size(); i += model_two_bytes(s, i, rule) ? 2 : 1)
        starts.push_back(i);
    starts.push_back(s.size());
    return starts;
}

int model_find(const std::string &s, const std::vector<size_t> &starts, bool last, std::string_view pattern)
{
    int found = -1;
    for (size_t k = 0; k + 1 < starts.size(); ++k) {
        if (!pattern.empty() && s.compare(starts[k], pattern.size(), pattern) == 0) {
            found = static_cast<int>(starts[k]);
            if (!last)
                break;
        }
    }
    return found;
}

// Bytes at every boundary of the three rules, the bytes the editing
// routines look for, and the terminator (often, so that strings end early
// and lead bytes stand before it).
const unsigned char kAlphabet[] = {0x00, 0x00, 0x00, 'a',  '.',  '*',  '?',  '"',  '\\', ' ',
                                   0x3F, 0x40, 0x7E, 0x7F, 0x80, 0x81, 0x82, 0x9F, 0xA0, 0xA1,
                                   0xDF, 0xE0, 0xFC, 0xFD, 0xFE, 0xFF, 0x81, 0x9F, 0xE0, 0xFC};

class Generator {
public:
    std::string random_bytes(size_t max_len)
    {
        std::uniform_int_distribution<size_t> len(0, max_len), pick(0, sizeof kAlphabet - 1);
        std::string bytes(len(rng_), '\0');
        for (char &b : bytes)
            b = static_cast<char>(kAlphabet[pick(rng_)]);
        return bytes;
    }
    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

private:
    std::mt19937 rng_{20240611};
};

// A pattern that often occurs in the text (a piece of it, possibly running
// to its end or empty), and now and then random bytes.
std::string random_pattern(Generator &gen, const std::string &s)
{
    std::string piece;
    if (gen.below(4) == 0 || s.empty())
        piece = gen.random_bytes(3);
    else
        piece = s.substr(static_cast<size_t>(gen.below(static_cast<int>(s.size()))), static_cast<size_t>(gen.below(4)));
    return piece.substr(0, piece.find('\0'));
}

TEST(RandomizedSearch, AgreesWithTheModelOfTheBoundaryRules)
{
    Generator gen;
    for (int round = 0; round < 4000; ++round) {
        // The buffer may hold bytes after the first terminator; they must
        // never influence a result.
        std::string buffer = gen.random_bytes(12);
        Text t(buffer);
        const std::string s = buffer.substr(0, buffer.find('\0'));
        SCOPED_TRACE("buffer " + shown(buffer));
        const auto shared = model_starts(s, Rule::shared);
        const auto cp932 = model_starts(s, Rule::cp932);
        const auto split = model_starts(s, Rule::split);
        std::vector<size_t> every_byte(s.size() + 1);
        std::iota(every_byte.begin(), every_byte.end(), size_t{0});

        for (unsigned char c : kAlphabet) {
            // Bits above the low 8 must not matter.
            const int arg = c + 0x100 * (gen.below(5) - 2);
            const std::string one(1, static_cast<char>(c));
            SCOPED_TRACE("search " + std::to_string(arg));
            EXPECT_EQ(t.offset(lumlib::Strchr(t.str(), arg)), model_find(s, shared, false, c ? one : ""));
            EXPECT_EQ(t.offset(lumlib::Strrchr(t.str(), arg)), model_find(s, shared, true, c ? one : ""));
            EXPECT_EQ(t.offset(lumlib::index(t.str(), arg)), model_find(s, every_byte, false, c ? one : ""));
            EXPECT_EQ(t.offset(lumlib::rindex(t.str(), arg)), model_find(s, every_byte, true, c ? one : ""));
        }

        const std::string pattern = random_pattern(gen, s);
        Text p(pattern);
        SCOPED_TRACE("pattern " + shown(pattern));
        EXPECT_EQ(t.offset(lumlib::serstr(t.str(), p.str())), model_find(s, cp932, false, pattern));
        int index1_at = s.empty() ? -1 : pattern.empty() ? 0 : static_cast<int>(s.find(pattern));
        EXPECT_EQ(t.offset(lumlib::index1(t.str(), p.str())), index1_at);

        int index2_at = -1;
        for (size_t k = 0; k + 1 < shared.size() && index2_at < 0; ++k)
            if (shared[k + 1] - shared[k] == 1 && pattern.find(s[shared[k]]) != std::string::npos)
                index2_at = static_cast<int>(shared[k]);
        EXPECT_EQ(t.offset(lumlib::index2(t.str(), p.str())), index2_at);

        std::vector<char> flags(s.size() + 2, 0x55), model_flags(s.size() + 2, 0x55);
        for (size_t k = 0; k + 1 < shared.size(); ++k) {
            bool two = shared[k + 1] - shared[k] == 2;
            model_flags[shared[k]] = two ? 1 : 0;
            if (two)
                model_flags[shared[k] + 1] = 2;
        }
        lumlib::set_kanji_flg(t.str(), flags.data());
        EXPECT_EQ(flags, model_flags);

        for (int limit = -1; limit <= static_cast<int>(s.size()) + 1; ++limit) {
            size_t cut = 0;
            for (size_t end : split)
                if (end <= static_cast<size_t>(std::max(limit, 0)))
                    cut = end;
            EXPECT_EQ(t.offset(lumlib::charcode_endpos(t.str(), limit)), static_cast<int>(cut)) << "limit " << limit;
        }

        for (size_t pos = 0; pos <= buffer.size() + 1; ++pos) {
            int prev = -1;
            for (size_t k = 0; k + 1 < shared.size() && shared[k] < pos; ++k)
                prev = static_cast<int>(shared[k]);
            EXPECT_EQ(t.offset(lumlib::get_prech(t.str(), t.at(static_cast<int>(pos)))), prev) << "pos " << pos;
        }
    }
}

}  // namespace
