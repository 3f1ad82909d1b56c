#include <gtest/gtest.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "lumlib/strings.h"

namespace {

// A copy in a heap block of exactly its size, so that the sanitizer build
// catches a read past the terminator.
struct Exact {
    explicit Exact(const std::string &text) : bytes(new char[text.size() + 1]), size(text.size())
    {
        std::memcpy(bytes.get(), text.c_str(), size + 1);
    }
    char *get() const { return bytes.get(); }
    std::string str() const { return std::string(bytes.get(), size); }
    std::unique_ptr<char[]> bytes;
    size_t size;
};

struct CompareCase {
    std::string s1, s2;
    int n;
    int expected;
};

const CompareCase kCompareCases[] = {
    {"abc", "ABC", -1, 0},
    {"ab", "abc", -1, -1},
    {"abc", "ab", -1, 1},
    {"", "", -1, 0},
    {"", "a", -1, -1},
    {"A_", "AB", -1, -1},      // folding goes to lower case
    {"[", "a", -1, -1},
    {"dir\\x", "dir.x", -1, -1},  // the backslash sorts first
    {"dir.x", "dir\\x", -1, 1},
    {"\\", "\x01", -1, -1},
    {"a\\", "a", -1, 1},       // the end sorts before the backslash
    {"z", "\xB1", -1, -1},     // ASCII before katakana
    {"\xB1", "\x82\xA0", -1, -1},  // katakana before two-byte, despite the byte values
    {"\x82\x61", "\x82\x41", -1, 1},  // second bytes are not folded
    {"\x82\xA0", "\x83\x40", -1, -1},
    // The katakana split at each class boundary: the kinds rank...
    {"\x7F", "\x80\x40", -1, -1},
    {"\x80\x40", "\x7F", -1, 1},
    {"\x7F", "\xA1", -1, -1},
    {"\xA1", "\xA0\x40", -1, -1},
    {"\xA0\x40", "\xA1", -1, 1},
    {"\x80\x40", "\xA1", -1, 1},
    {"\xDF", "\xE0\x40", -1, -1},
    {"\xE0\x40", "\xDF", -1, 1},
    // ...and a letter after the byte is folded only after a one-byte kind.
    {"\x7F" "a", "\x7F" "A", -1, 0},
    {"\x80" "a", "\x80" "A", -1, 1},
    {"\xA0" "a", "\xA0" "A", -1, 1},
    {"\xA1" "a", "\xA1" "A", -1, 0},
    {"\xDF" "a", "\xDF" "A", -1, 0},
    {"\xE0" "a", "\xE0" "A", -1, 1},
    {"\xFD" "a", "\xFD" "A", -1, 1},
    {"\xFF" "a", "\xFF" "A", -1, 1},
    // A lone lead byte at the end.
    {"ab\x82", "AB\x82", -1, 0},
    {"\x82", "\x82\xA0", -1, -1},
    {"\x82\xA0", "\x82", -1, 1},
    // Limits.
    {"abc", "abd", 2, 0},
    {"abc", "abd", 3, -1},
    {"abc", "xyz", 0, 0},
    {"abc", "abd", -7, -1},
    {"ab", "abc", 2, 0},
    {"ab", "abc", 3, -1},
    {"\x82\xA0", "\x82\xA2", 1, -1},  // compared whole
    {"a\x82\xA0", "a\x82\xA2", 2, -1},
    {"\x82\xA0" "a", "\x82\xA0" "b", 2, 0},  // the limit counts both bytes
    {"\x82\xA0" "a", "\x82\xA0" "b", 3, -1},
    {"\x82\xA0\x82\xA0", "\x82\xA0\x82\xA2", 2, 0},
    {"\x82\xA0\x82\xA0", "\x82\xA0\x82\xA2", 3, -1},
};

TEST(StrnCmp, PinnedResults)
{
    for (const CompareCase &c : kCompareCases) {
        Exact s1(c.s1), s2(c.s2);
        EXPECT_EQ(lumlib::StrnCmp(s1.get(), s2.get(), c.n), c.expected) << c.s1 << " / " << c.s2 << " n=" << c.n;
        if (c.n < 0) {
            EXPECT_EQ(lumlib::StrCmp(s1.get(), s2.get()), c.expected) << c.s1 << " / " << c.s2;
        }
    }
}

TEST(StrnCmp, NeverReadsPastTerminatorAfterLeadByte)
{
    // The bytes after each terminator differ; reading them would change
    // the result.
    const char s1[] = {'x', '\x82', '\0', 'a', '\0'};
    const char s2[] = {'x', '\x82', '\0', 'b', '\0'};
    EXPECT_EQ(lumlib::StrCmp(s1, s2), 0);
    EXPECT_EQ(lumlib::StrnCmp(s1, s2, 2), 0);
    const char s3[] = {'x', '\x82', 'A', '\0'};
    EXPECT_EQ(lumlib::StrCmp(s1, s3), -1);
    EXPECT_EQ(lumlib::StrCmp(s3, s1), 1);
}

// The collation as a key per character: the kinds rank ASCII, katakana,
// two-byte; ASCII folds to lower case with the backslash first; a lone
// lead byte at the end has the second byte 0. Only characters that start
// within the limit take part.
std::vector<std::vector<int>> collation_keys(const std::string &s, int limit)
{
    std::vector<std::vector<int>> keys;
    for (size_t i = 0; i < s.size() && (limit < 0 || static_cast<int>(i) < limit);) {
        int c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            int folded = c >= 'A' && c <= 'Z' ? c + 32 : c;
            keys.push_back({0, c == '\\' ? 0 : folded});
            i += 1;
        } else if (c >= 0xA1 && c <= 0xDF) {
            keys.push_back({1, c});
            i += 1;
        } else {
            int second = i + 1 < s.size() ? static_cast<unsigned char>(s[i + 1]) : 0;
            keys.push_back({2, c, second});
            i += 2;
        }
    }
    return keys;
}

int model_compare(const std::string &s1, const std::string &s2, int limit)
{
    auto k1 = collation_keys(s1, limit), k2 = collation_keys(s2, limit);
    return k1 < k2 ? -1 : k2 < k1 ? 1 : 0;
}

TEST(StrnCmp, AgreesWithCollationModelAndIsAntisymmetric)
{
    static const char kBytes[] = "aAbBzZ_[\\.-~\x01\x7F\x80\xA0\xA1\xB1\xDF\xE0\x82\x95\xFC\xFD\xFF\x41\x61\x5C";
    const std::string alphabet(kBytes, sizeof kBytes - 1);
    std::mt19937 random(5);
    auto pick = [&](int bound) { return static_cast<int>(random() % static_cast<unsigned>(bound)); };
    auto generate = [&] {
        std::string s;
        for (int length = pick(8); length > 0; --length)
            s += alphabet[static_cast<size_t>(pick(static_cast<int>(alphabet.size())))];
        return s;
    };
    for (int round = 0; round < 5000; ++round) {
        std::string s1 = generate();
        // Mostly a variant of s1, so that comparisons go deep.
        std::string s2 = pick(4) == 0 ? generate() : s1.substr(0, static_cast<size_t>(pick(9))) + generate().substr(0, 2);
        if (pick(2) == 0)
            std::transform(s2.begin(), s2.end(), s2.begin(), [&](char c) { return pick(3) == 0 ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c; });
        int n = pick(12) - 2;
        Exact e1(s1), e2(s2);
        int forward = lumlib::StrnCmp(e1.get(), e2.get(), n);
        ASSERT_EQ(forward, model_compare(s1, s2, n)) << testing::PrintToString(s1) << " / " << testing::PrintToString(s2) << " n=" << n;
        ASSERT_EQ(lumlib::StrnCmp(e2.get(), e1.get(), n), -forward);
        ASSERT_EQ(lumlib::StrnCmp(e1.get(), e1.get(), n), 0);
    }
}

struct Cmp2Case {
    std::string s1, s2;
    int sep;
    int expected;
};

TEST(StrCmp2, FinalSeparatorSortsLowAndBothStringsAreRestored)
{
    const Cmp2Case cases[] = {
        {"abc.txt", "abc-d.txt", '.', -1},
        {"README", "README.TXT", '.', -1},
        {"a.b_c", "a-b_c", '.', 1},   // '_' ends the run: nothing is marked
        {".txt", "-txt", '.', -1},    // a separator at the very start counts
        {"a.b", "a\\b", '.', 1},      // 0x01 sorts after the backslash...
        {"a.", "a", '.', 1},          // ...and after the end
        {"x.c", "x.C", '.', 0},
        {"abc.txt", "abc-d.txt", 0x12E, -1},  // only the low byte counts
        {"abc", "abc", '.', 0},
        {"", "", '.', 0},
    };
    for (const Cmp2Case &c : cases) {
        Exact s1(c.s1), s2(c.s2);
        EXPECT_EQ(lumlib::StrCmp2(s1.get(), s2.get(), c.sep), c.expected) << c.s1 << " / " << c.s2;
        EXPECT_EQ(s1.str(), c.s1);
        EXPECT_EQ(s2.str(), c.s2);
    }
    EXPECT_EQ(lumlib::StrCmp("abc.txt", "abc-d.txt"), 1);
}

TEST(StrCmp2, SameStringTwiceComparesEqualAndIsRestored)
{
    char name[] = "file.ext";
    EXPECT_EQ(lumlib::StrCmp2(name, name, '.'), 0);
    EXPECT_STREQ(name, "file.ext");
}

TEST(DirCmp, IgnoresOneTrailingBackslash)
{
    const CompareCase cases[] = {
        {"C:\\TOOLS\\", "c:\\tools", 0, 0},
        {"C:\\", "C:", 0, 0},
        {"C:\\A", "C:\\AB", 0, 1},
        {"C:\\B", "C:\\A", 0, 1},
        {"C:\\A", "C:\\B", 0, -1},
        {"", "\\", 0, 0},
        {"C:\\A\\\\", "C:\\A", 0, 1},  // only one backslash is ignored
        // A kanji whose second byte is 0x5C is not a trailing backslash.
        {"C:\\\x95\x5C\\", "C:\\\x95\x5C", 0, 0},
        {"C:\\\x95\x5C", "C:\\\x95\x5C", 0, 0},
        {"C:\\\x95\x5C", "C:\\\x95", 0, 1},
        // A lone lead byte cannot be told from the kanji 0x95 0x5C.
        {"C:\\\x95", "C:\\\x95\\", 0, 1},
    };
    for (const CompareCase &c : cases) {
        Exact p1(c.s1), p2(c.s2);
        EXPECT_EQ(lumlib::DirCmp(p1.get(), p2.get()), c.expected) << c.s1 << " / " << c.s2;
    }
}

struct FileRecord {
    char *path;
    int size;  // a record carries more than its path
};

TEST(CompFile, SortsShallowPathsFirstThenByCollation)
{
    std::vector<std::string> paths = {"A\\B\\C.TXT",  "Z.TXT",     "A\\B.TXT",          "a\\a.txt",
                                      "\x95\x5C.TXT", "b.txt",     "A\\\x95\x5C\\X",    "\x95\x5C\\Y"};
    std::vector<FileRecord> records;
    for (std::string &path : paths)
        records.push_back({&path[0], static_cast<int>(path.size())});
    std::vector<FileRecord *> array;
    for (FileRecord &record : records)
        array.push_back(&record);
    std::qsort(array.data(), array.size(), sizeof array[0], lumlib::comp_file);
    std::vector<std::string> sorted;
    for (const FileRecord *record : array)
        sorted.push_back(record->path);
    // The 0x5C second byte of the kanji is not a separator.
    const std::vector<std::string> expected = {"b.txt",      "Z.TXT",      "\x95\x5C.TXT", "a\\a.txt",
                                               "A\\B.TXT",   "\x95\x5C\\Y", "A\\B\\C.TXT", "A\\\x95\x5C\\X"};
    EXPECT_EQ(sorted, expected);
    FileRecord *same[] = {array[0], array[0]};
    EXPECT_EQ(lumlib::comp_file(&same[0], &same[1]), 0);
    EXPECT_EQ(lumlib::comp_file(&array[1], &array[0]), 1);
}

TEST(CmpAsciiIgnUL, ComparesLowBytesIgnoringAsciiCase)
{
    struct {
        int c1, c2, expected;
    } const cases[] = {
        {'a', 'A', 1}, {'Z', 'z', 1}, {'[', '{', 0}, {'@', '`', 0}, {'1', '1', 1}, {'1', '2', 0},
        {0xE1, 0xC1, 0},          // high bytes are not folded
        {0x161, 'A', 1},          // only the low eight bits count
        {-159, 'A', 1},           // 0xFFFFFF61
    };
    for (const auto &c : cases)
        EXPECT_EQ(lumlib::cmp_ascii_ignUL(c.c1, c.c2), c.expected) << c.c1 << " / " << c.c2;
}

TEST(SrchWild, FindsFirstWildcard)
{
    const char pattern[] = "*.c";
    EXPECT_EQ(lumlib::srch_wild(pattern), pattern);
    const char mixed[] = "ab?c*";
    EXPECT_EQ(lumlib::srch_wild(mixed), mixed + 2);
    EXPECT_EQ(lumlib::srch_wild("abc"), nullptr);
    EXPECT_EQ(lumlib::srch_wild(""), nullptr);
}

TEST(CaseChange, SparesSecondBytesByTheKatakanaSplit)
{
    const std::pair<std::string, std::string> upper[] = {
        {"ab\x82\x61" "cd", "AB\x82\x61" "CD"},
        {"a\xB1" "b", "A\xB1" "B"},
        {"\x7F" "a", "\x7F" "A"},
        {"\x80" "a", "\x80" "a"},
        {"\xA0" "a", "\xA0" "a"},
        {"\xA1" "a", "\xA1" "A"},
        {"\xDF" "a", "\xDF" "A"},
        {"\xE0" "a", "\xE0" "a"},
        {"\xFD" "ab", "\xFD" "aB"},
        {"ab\x82", "AB\x82"},
        {"{|}`~@[", "{|}`~@["},
    };
    for (const auto &[before, after] : upper) {
        Exact text(before);
        EXPECT_EQ(lumlib::to_upper(text.get()), 0);
        EXPECT_EQ(text.str(), after);
        EXPECT_EQ(lumlib::to_lower(text.get()), 0);
        // Lowering the upper-cased text undoes exactly what raising did.
        std::string lowered = after;
        for (size_t i = 0; i < lowered.size(); ++i)
            if (before[i] != after[i])
                lowered[i] = before[i];
        EXPECT_EQ(text.str(), lowered);
    }
    char tail[] = {'\x82', '\0', 'a', '\0'};
    lumlib::to_upper(tail);
    EXPECT_EQ(tail[2], 'a');  // nothing after the terminator changes
}

TEST(Strcasecmp, ReturnsDifferenceOfLoweredBytes)
{
    const CompareCase cases[] = {
        {"ABC", "abc", 0, 0},
        {"a", "b", 0, -1},
        {"A", "", 0, 97},
        {"[", "a", 0, -6},
        {"\\", "a", 0, -5},               // no special place for the backslash
        {"\x82\x41", "\x82\x61", 0, -32},  // second bytes are not lowered
        {"\xB1" "A", "\xB1" "a", 0, 0},
        {"\xFF", "", 0, 255},
        {"", "\xFF", 0, -255},
    };
    for (const CompareCase &c : cases) {
        Exact s1(c.s1), s2(c.s2);
        EXPECT_EQ(lumlib::strcasecmp(s1.get(), s2.get()), c.expected) << c.s1 << " / " << c.s2;
        EXPECT_EQ(s1.str(), c.s1);
    }
}

TEST(Strcasecmp, LongTextsCompareTheirFirst1023Bytes)
{
    const CompareCase cases[] = {
        {std::string(1023, 'x') + "A", std::string(1023, 'X') + "B", 0, 0},
        {std::string(1022, 'x') + "A", std::string(1022, 'X') + "B", 0, -1},
        {std::string(5000, 'q'), std::string(1023, 'Q'), 0, 0},
        {std::string(1022, 'q'), std::string(1023, 'Q'), 0, -'q'},
        // Cut between the two bytes of a kanji.
        {std::string(1022, 'x') + "\x82\x41", std::string(1022, 'x') + "\x82\x61", 0, 0},
        {std::string(1021, 'x') + "\x82\x41", std::string(1021, 'x') + "\x82\x61", 0, -32},
    };
    for (const CompareCase &c : cases) {
        Exact s1(c.s1), s2(c.s2);
        EXPECT_EQ(lumlib::strcasecmp(s1.get(), s2.get()), c.expected) << c.s1.size() << " / " << c.s2.size();
        EXPECT_EQ(s1.str(), c.s1);
        EXPECT_EQ(s2.str(), c.s2);
    }
}

TEST(Strcasecmp, DoesNotClashWithTheCLibrary)
{
    std::string a = std::string(1100, 'x') + "a";
    std::string b = std::string(1100, 'X') + "b";
    EXPECT_EQ(lumlib::strcasecmp(a.c_str(), b.c_str()), 0);
    EXPECT_LT(::strcasecmp(a.c_str(), b.c_str()), 0);
    EXPECT_EQ(lumlib::strcasecmp("\x82\x41", "\x82\x61"), -32);
    EXPECT_EQ(::strcasecmp("\x82\x41", "\x82\x61"), 0);
}

}  // namespace
