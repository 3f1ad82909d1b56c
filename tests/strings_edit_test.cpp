#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

// Without the sanitizer's interface the guard relies on its sentinel alone.
#if __has_include(<sanitizer/asan_interface.h>)
#include <sanitizer/asan_interface.h>
#else
#define ASAN_POISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#endif

#include "lumlib/strings.h"

namespace {

// Text with its bytes escaped, for traces and comparisons.
std::string shown(const std::string &bytes) { return ::testing::PrintToString(bytes) + " "; }

// A buffer of exactly the room a routine may use, followed by a guard: a
// write into the guard changes its sentinel bytes, and in the sanitizer
// build any read or write there traps at once.
class Guarded {
public:
    static constexpr char kSentinel = '\xA5';
    static constexpr size_t kGuard = 8;

    // Holds the bytes and a terminator, plus `extra` bytes of room filled
    // with a byte other than the sentinel, so that moving them out shows.
    explicit Guarded(const std::string &bytes, size_t extra = 0)
        : room_(bytes.size() + 1 + extra)
    {
        std::string layout = bytes + '\0' + std::string(extra, '~') + std::string(kGuard, kSentinel);
        buf_.assign(layout.begin(), layout.end());
        ASAN_POISON_MEMORY_REGION(guard(), kGuard);
    }
    ~Guarded() { ASAN_UNPOISON_MEMORY_REGION(guard(), kGuard); }
    Guarded(const Guarded &) = delete;
    Guarded &operator=(const Guarded &) = delete;

    char *str() { return buf_.data(); }
    std::string text() const { return buf_.data(); }
    // The room's bytes, terminators and all.
    std::string room() const { return std::string(buf_.data(), room_); }
    bool intact() const
    {
        ASAN_UNPOISON_MEMORY_REGION(guard(), kGuard);
        bool untouched = std::all_of(guard(), guard() + kGuard, [](char c) { return c == kSentinel; });
        ASAN_POISON_MEMORY_REGION(guard(), kGuard);
        return untouched;
    }

private:
    const char *guard() const { return buf_.data() + room_; }

    size_t room_;
    std::vector<char> buf_;
};

// ---- findExt -----------------------------------------------------------

struct ExtCase {
    std::string path;
    int at;
};

const ExtCase kExt[] = {
    {"C:\\dir.x\\file.tar.gz", 17},
    {"C:\\dir.x\\file", -1},
    {"a.b", 1},
    {"a.b\\", -1},
    {"a.b/c", 1},                    // the slash is no separator
    {"x\\.profile", 2},
    {"\x95\x5C.txt", 2},             // 5C is a second byte, not a separator
    {"d\\\x95\x5C" "a.b", 5},
    {"a.\x95\x5C" "b", 1},         // no separator, so the component is all
    {"", -1},
    {"\x81.txt", 1},                 // 81 2E is no character: a full stop
    {"a.b\\\x81", -1},               // lone lead byte before the terminator
    {"a\\b.\x81", 3},
    {"a.b\\\x81\\", -1},
    {"\x80\\x.\xFF", 3},             // 0x80 and 0xFF lead nothing
    {"\xA0\\x", -1},
    {"\xFD.\xFE.\xFF", 3},
};

TEST(FindExt, FindsTheLastFullStopOfTheLastComponent)
{
    for (const auto &tc : kExt) {
        SCOPED_TRACE(shown(tc.path));
        Guarded path(tc.path);
        const char *r = lumlib::findExt(path.str());
        EXPECT_EQ(r == nullptr ? -1 : r - path.str(), tc.at);
    }
}

// ---- sepname -----------------------------------------------------------

struct SepCase {
    std::string path, head, rest;
};

const SepCase kSep[] = {
    {"C:\\d?r\\sub\\x.c", "C:\\d?r", "sub\\x.c"},
    {"C:\\dir\\*.c", "C:\\dir\\*.c", ""},
    {"C:\\dir\\file.c", "C:\\dir\\file.c", ""},
    {"a*\\", "a*", ""},
    {"a*\x95\x5C" "b\\c", "a*\x95\x5C" "b", "c"},
    {"", "", ""},
    {"a\\b*c\\d*\\e", "a\\b*c", "d*\\e"},
    {"\x95\x5C*\\x", "\x95\x5C*", "x"},
    {"\x81*\\x", "\x81*", "x"},      // 81 2A is no character: a wildcard
    {"a*\x81", "a*\x81", ""},        // lone lead byte before the terminator
    {"a?\\\x81", "a?", "\x81"},
    {"a*\x81\\", "a*\x81\\", ""},    // 81 5C is a character
    {"\x80*\\\xFF", "\x80*", "\xFF"},
};

TEST(Sepname, SplitsAfterTheFirstComponentWithAWildcard)
{
    for (const auto &tc : kSep) {
        SCOPED_TRACE(shown(tc.path));
        Guarded path(tc.path), head(std::string(tc.path.size(), 'h')), rest(std::string(tc.path.size(), 'r'));
        EXPECT_EQ(lumlib::sepname(path.str(), head.str(), rest.str()), 0);
        EXPECT_EQ(head.text(), tc.head);
        EXPECT_EQ(rest.text(), tc.rest);
        EXPECT_EQ(path.text(), tc.head);
        EXPECT_TRUE(path.intact() && head.intact() && rest.intact());
    }
}

TEST(Sepname, ThePathMayServeAsHeadOrRest)
{
    Guarded path("a*\\b\\c"), rest(std::string(6, 'r'));
    lumlib::sepname(path.str(), path.str(), rest.str());
    EXPECT_EQ(path.text(), "a*");
    EXPECT_EQ(rest.text(), "b\\c");

    Guarded path2("a*\\b\\c"), head(std::string(6, 'h'));
    lumlib::sepname(path2.str(), head.str(), path2.str());
    EXPECT_EQ(head.text(), "a*");
    EXPECT_EQ(path2.text(), "b\\c");
}

// ---- In-place string edits: table of before and after --------------------

struct EditCase {
    std::string before, after;
};

template <size_t N>
void expect_edits(const EditCase (&cases)[N], int (*edit)(char *))
{
    for (const auto &tc : cases) {
        SCOPED_TRACE(shown(tc.before));
        Guarded s(tc.before);
        EXPECT_EQ(edit(s.str()), 0);
        EXPECT_EQ(shown(s.text()), shown(tc.after));
        EXPECT_TRUE(s.intact());
    }
}

const EditCase kQuote[] = {
    {"\"abc\"", "abc"},
    {"\"abc", "abc"},
    {"abc\"", "abc\""},
    {"\"\"", ""},
    {"\"", ""},
    {"", ""},
    {"\"a\"b\"", "a\"b"},
    {"\"\x81\"", "\x81"},            // 0x22 is never a second byte
    {"\"\x81", "\x81"},
    {"\x81\"", "\x81\""},
};

TEST(CutQuoteChar, RemovesALeadingQuoteAndThenATrailingOne)
{
    expect_edits(kQuote, lumlib::cutQuoteChar);
}

const EditCase kBlanks[] = {
    {" a b \t \t", " a b"},
    {" \t ", ""},
    {"a \n", "a \n"},
    {"", ""},
    {"\x81 ", "\x81"},               // 0x20 is never a second byte
    {"\x81\t", "\x81"},
    {"\xFF \x80", "\xFF \x80"},
};

TEST(CutBackSpace, OverwritesTrailingBlanks)
{
    expect_edits(kBlanks, lumlib::cutBackSpace);
}

TEST(CutBackSpace, ZeroesEveryTrailingBlank)
{
    Guarded s("a \t ");
    lumlib::cutBackSpace(s.str());
    EXPECT_EQ(s.room(), std::string("a\0\0\0\0", 5));
}

// ---- ChgChr --------------------------------------------------------------

struct ChgCase {
    std::string before;
    int from, to;
    std::string after;
};

const ChgCase kChg[] = {
    {"a/b/\x95/c", '/', '\\', "a\\b\\\x95/c"},
    {"\x95\x5C\x5C", 0x5C, '/', "\x95\x5C/"},
    {"aab", 'a', 0x82, "\x82" "ab"},          // the second 'a' became a second byte
    {"\x82\x82y", 0x82, 'x', "xxy"},
    {"abc", 0, 'x', "abc"},
    {"\x81..", '.', '_', "\x81._"},
    {"\x81**", '*', '?', "\x81*?"},
    {"\x81\"\"", '"', '\'', "\x81\"'"},
    {"ba", 'a', 0x82, "b\x82"},               // new lead byte before the terminator
    {"a\x82", 0x82, 'x', "ax"},
    {"\x80" "a\xA0" "a\xFD" "a", 'a', 'b', "\x80" "b\xA0" "b\xFD" "b"},
    {"\xFE" "a\xFF" "a\xFC" "a", 'a', 'b', "\xFE" "b\xFF" "b\xFC" "a"},
    {"\xFF\xFF", 0xFF, 0x80, "\x80\x80"},
    {"a\\b", 0x15C, 0x12F, "a/b"},            // only the low 8 bits count
    {"a\\b", -0xA4, -0xD1, "a/b"},
};

TEST(ChgChr, ReplacesAtCharacterStartsOnly)
{
    for (const auto &tc : kChg) {
        SCOPED_TRACE(shown(tc.before) + "from " + std::to_string(tc.from) + " to " + std::to_string(tc.to));
        Guarded s(tc.before);
        EXPECT_EQ(lumlib::ChgChr(s.str(), tc.from, tc.to), s.str());
        EXPECT_EQ(shown(s.text()), shown(tc.after));
        EXPECT_TRUE(s.intact());
    }
}

TEST(ChgChr, ZeroReplacementCutsTheStringAndStopsAtTheOldEnd)
{
    Guarded s("a/b/c");
    lumlib::ChgChr(s.str(), '/', 0);
    EXPECT_EQ(s.room(), std::string("a\0b\0c\0", 6));
    EXPECT_TRUE(s.intact());
}

// Model of the replacement walk, from the shared two-byte rule.
std::string model_chgchr(std::string s, unsigned char from, unsigned char to)
{
    auto lead = [](unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); };
    for (size_t i = 0; i < s.size(); ++i) {
        if (static_cast<unsigned char>(s[i]) == from)
            s[i] = static_cast<char>(to);
        if (lead(static_cast<unsigned char>(s[i])) && i + 1 < s.size())
            ++i;
    }
    return s;
}

TEST(ChgChr, AgreesWithTheModelOnRandomText)
{
    static const unsigned char kAlphabet[] = {'a', '/', '\\', '.', 0x40, 0x7F, 0x80, 0x81, 0x9F,
                                              0xA0, 0xA1, 0xDF, 0xE0, 0xFC, 0xFD, 0xFF};
    std::mt19937 rng(7);
    std::uniform_int_distribution<size_t> len(0, 10), pick(0, sizeof kAlphabet - 1);
    for (int round = 0; round < 3000; ++round) {
        std::string s(len(rng), ' ');
        for (char &b : s)
            b = static_cast<char>(kAlphabet[pick(rng)]);
        const unsigned char from = kAlphabet[pick(rng)], to = round % 7 == 0 ? 0 : kAlphabet[pick(rng)];
        SCOPED_TRACE(shown(s) + "from " + std::to_string(from) + " to " + std::to_string(to));
        Guarded buf(s);
        lumlib::ChgChr(buf.str(), from, to);
        EXPECT_EQ(shown(buf.room()), shown(model_chgchr(s, from, to) + '\0'));
        EXPECT_TRUE(buf.intact());
    }
}

// ---- Block copies --------------------------------------------------------

struct CopyCase {
    int src, dst, count;
    std::string after;
};

// On "abcd": source and destination are offsets into the same block.
const CopyCase kBakmov[] = {
    {0, 1, 3, "aabc"},   // destination above the source: exact copy
    {1, 0, 3, "dddd"},   // destination below: the last byte repeats
    {0, 1, 0, "abcd"},
    {0, 1, -1, "abcd"},  // a negative count copies nothing
    {0, 1, INT_MIN, "abcd"},
    {0, 0, 4, "abcd"},
    {0, 2, 2, "abab"},
};

const CopyCase kBcopy[] = {
    {1, 0, 3, "bcdd"},   // destination below the source: exact copy
    {0, 1, 3, "aaaa"},   // destination above: the first byte repeats
    {0, 1, 0, "abcd"},
    {0, 1, -1, "abcd"},
    {0, 1, INT_MIN, "abcd"},
    {0, 2, 2, "abab"},
    {2, 0, 2, "cdcd"},
};

// Runs each case on "abcd", source and destination given as offsets.
template <size_t N, class Copy>
void expect_copies(const CopyCase (&cases)[N], Copy copy)
{
    for (const auto &tc : cases) {
        SCOPED_TRACE(std::to_string(tc.src) + " to " + std::to_string(tc.dst) + " count " + std::to_string(tc.count));
        Guarded s("abcd");
        EXPECT_EQ(copy(s.str() + tc.src, s.str() + tc.dst, tc.count), 0);
        EXPECT_EQ(s.text(), tc.after);
        EXPECT_TRUE(s.intact());
    }
}

TEST(Bakmov, CopiesFromTheEnd) { expect_copies(kBakmov, lumlib::bakmov); }

TEST(Bcopy, CopiesFromTheStartDestinationFirst)
{
    expect_copies(kBcopy, [](char *src, char *dst, int count) { return lumlib::bcopy(dst, src, count); });
}

TEST(BlockCopies, CopyExactlyCountBytesBetweenSeparateBlocks)
{
    const std::string source("\x00\x81\xFF\x5C" "z", 5);
    Guarded to_bak(std::string(4, '-')), to_b(std::string(4, '-'));
    lumlib::bakmov(source.data(), to_bak.str(), 5);
    lumlib::bcopy(to_b.str(), source.data(), 5);
    EXPECT_EQ(to_bak.room(), source);
    EXPECT_EQ(to_b.room(), source);
    EXPECT_TRUE(to_bak.intact() && to_b.intact());
}

// ---- insChar and clear -----------------------------------------------------

struct InsCase {
    std::string before;
    int c;
    std::string after;
};

const InsCase kIns[] = {
    {"abc", 'X', "Xabc"},
    {"", 'X', "X"},
    {"abc", 0x158, "Xabc"},
    {"\x82", 'a', "a\x82"},
    {"a", 0x82, "\x82" "a"},
    {"\xFD", -1, "\xFF\xFD"},
    {"abc", 0x100, ""},             // a zero byte is inserted too: the string is cut
};

TEST(InsChar, InsertsAtTheFront)
{
    for (const auto &tc : kIns) {
        SCOPED_TRACE(shown(tc.before) + "insert " + std::to_string(tc.c));
        Guarded s(tc.before, 1);  // exactly the one byte of room promised
        EXPECT_EQ(lumlib::insChar(s.str(), tc.c), 0);
        EXPECT_EQ(shown(s.text()), shown(tc.after));
        EXPECT_EQ(s.room().substr(1), tc.before + '\0');
        EXPECT_TRUE(s.intact());
    }
}

struct ClearCase {
    int c, count;
    std::string after;
};

const ClearCase kClear[] = {
    {'-', 3, "---de"},
    {'-', 5, "-----"},
    {'-', 0, "abcde"},
    {'-', -1, "abcde"},
    {'-', INT_MIN, "abcde"},
    {'-' + 0x100, 2, "--cde"},
    {0xFF, 1, "\xFF" "bcde"},
};

TEST(Clear, FillsCountBytes)
{
    for (const auto &tc : kClear) {
        SCOPED_TRACE(std::to_string(tc.c) + " count " + std::to_string(tc.count));
        Guarded s("abcde");
        lumlib::clear(s.str(), tc.c, tc.count);
        EXPECT_EQ(shown(s.text()), shown(tc.after));
        EXPECT_TRUE(s.intact());
    }
}

}  // namespace
