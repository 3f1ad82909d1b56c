#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lumlib/strings.h"
#include "sjis_model.h"

namespace {

using namespace sjis_model;

bool is_alnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }
char lowered(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 0x20) : c; }

// The collation key of a text: per character its kind (ASCII, half-width
// katakana, two-byte), then for ASCII the lowered byte with the backslash
// first, else the bytes unchanged (a lone lead byte's missing second byte
// as 0), and the offset where it starts.
struct Key {
    std::vector<std::array<int, 3>> chars;
    std::vector<size_t> starts;
};

Key collation_key(const Bytes &s)
{
    Key key;
    for (const Char &c : characters(s, Rule::split)) {
        const int first = static_cast<unsigned char>(c.bytes[0]);
        const int second = c.bytes.size() == 2 ? static_cast<unsigned char>(c.bytes[1]) : 0;
        if (first < 0x80)
            key.chars.push_back({0, first == '\\' ? 0 : lowered(c.bytes[0]), 0});
        else
            key.chars.push_back({first >= 0xA1 && first <= 0xDF ? 1 : 2, first, second});
        key.starts.push_back(c.at);
    }
    return key;
}

// Compares the characters that start within the first limit bytes; a
// negative limit is none.
int collate(const Key &k1, const Key &k2, int limit = -1)
{
    auto end = [limit](const Key &k) {
        const auto within = std::lower_bound(k.starts.begin(), k.starts.end(), static_cast<size_t>(limit));
        return k.chars.begin() + ((limit < 0 ? k.starts.end() : within) - k.starts.begin());
    };
    const bool less = std::lexicographical_compare(k1.chars.begin(), end(k1), k2.chars.begin(), end(k2));
    const bool greater = std::lexicographical_compare(k2.chars.begin(), end(k2), k1.chars.begin(), end(k1));
    return int{greater} - int{less};
}

int collate(const Bytes &s1, const Bytes &s2) { return collate(collation_key(s1), collation_key(s2)); }

// A letter in both cases, '_' (between the cases), the backslash, and the
// bytes at each end of the kinds of the katakana split.
const Bytes kCollationBytes = "aA_\\\x7F\x80\xA0\xA1\xDF\xE0";

TEST(StrnCmp, EveryPairAndLimitAgreeWithTheCollation)
{
    const auto texts = all_strings(kCollationBytes, 3);
    std::vector<Key> keys;
    std::vector<Exact> copies;
    for (const Bytes &s : texts) {
        keys.push_back(collation_key(s));
        copies.emplace_back(s);
    }
    for (size_t i = 0; i < texts.size(); ++i) {
        for (size_t j = 0; j < texts.size(); ++j) {
            for (int limit : {-2, 1, 2}) {
                EXPECT_EQ(lumlib::StrnCmp(copies[i].get(), copies[j].get(), limit), collate(keys[i], keys[j], limit))
                    << shown(texts[i]) << shown(texts[j]) << limit;
            }
            EXPECT_EQ(lumlib::StrCmp(copies[i].get(), copies[j].get()), collate(keys[i], keys[j]));
            EXPECT_EQ(lumlib::StrnCmp(copies[i].get(), copies[j].get(), 0), 0);
        }
    }
    EXPECT_EQ(lumlib::StrnCmp("\x82\xA0", "\x82\xA2", 1), -1);  // a character within the limit counts whole
}

// The text with the separator before its final run of letters and digits
// marked by 0x01.
Bytes marked(Bytes s, char sep)
{
    size_t i = s.size();
    while (i > 0 && is_alnum(s[i - 1]) && s[i - 1] != sep)
        --i;
    if (i > 0 && s[i - 1] == sep)
        s[i - 1] = '\x01';
    return s;
}

TEST(StrCmp2, TheFinalSeparatorSortsLowAndBothTextsAreRestored)
{
    const auto texts = all_strings("a1.-\\", 3);
    for (const Bytes &s1 : texts) {
        for (const Bytes &s2 : texts) {
            for (char sep : {'.', '-'}) {
                Exact c1(s1), c2(s2);
                EXPECT_EQ(lumlib::StrCmp2(c1.get(), c2.get(), sep + 0x100), collate(marked(s1, sep), marked(s2, sep)))
                    << shown(s1) << shown(s2) << sep;
                EXPECT_EQ(c1.block() + c2.block(), s1 + '\0' + s2 + '\0');
            }
        }
    }
    char name[] = "file.ext";
    EXPECT_EQ(lumlib::StrCmp2(name, name, '.'), 0);
    EXPECT_STREQ(name, "file.ext");
}

// The length without a trailing backslash character; the second byte of a
// two-byte character is not one.
int dir_length(const Bytes &path)
{
    const auto chars = characters(path, Rule::split);
    return static_cast<int>(path.size()) - (!chars.empty() && chars.back().bytes == "\\");
}

struct Record {
    const char *path;
    int size;  // a record carries more than its path
};

int depth(const Bytes &path)
{
    const auto chars = characters(path, Rule::shared);
    return static_cast<int>(std::count_if(chars.begin(), chars.end(), [](const Char &c) { return c.bytes == "\\"; }));
}

TEST(PathComparisons, DirCmpAndCompFileAgreeWithTheModel)
{
    const auto paths = all_strings("aA\\\x81\xA0", 3);
    for (const Bytes &p1 : paths) {
        for (const Bytes &p2 : paths) {
            Exact c1(p1), c2(p2);
            const int length = dir_length(p1);
            const int dir_order = length != dir_length(p2) ? 1 : collate(collation_key(p1), collation_key(p2), length);
            EXPECT_EQ(lumlib::DirCmp(c1.get(), c2.get()), dir_order) << shown(p1) << shown(p2);
            Record r1{c1.get(), 1}, r2{c2.get(), 2};
            const Record *e1 = &r1, *e2 = &r2;
            const int file_order = depth(p1) != depth(p2) ? (depth(p1) < depth(p2) ? -1 : 1) : collate(p1, p2);
            EXPECT_EQ(lumlib::comp_file(&e1, &e2), file_order) << shown(p1) << shown(p2);
        }
    }
}

TEST(CaseFolding, EveryByteAndTextAgreeWithTheModel)
{
    for (int c1 = 0; c1 < 256; ++c1)
        for (int c2 = 0; c2 < 256; ++c2)
            EXPECT_EQ(lumlib::cmp_ascii_ignUL(c1, c2), lowered(char(c1)) == lowered(char(c2))) << c1 << ' ' << c2;
    EXPECT_EQ(lumlib::cmp_ascii_ignUL(0x161, -191), 1);  // only the low bytes 0x61 and 0x41 count
    // The letters' neighbours, and the bytes where the katakana split's
    // kinds meet.
    for (const Bytes &s : all_strings("@AZ[`az{\x7F\x80\xA0\xA1\xDF\xE0", 4)) {
        Bytes upper = s, lower = s;
        for (const Char &c : characters(s, Rule::split)) {
            if (c.bytes.size() == 1 && static_cast<unsigned char>(c.bytes[0]) < 0x80) {
                lower[c.at] = lowered(c.bytes[0]);
                upper[c.at] = static_cast<char>(std::toupper(c.bytes[0]));
            }
        }
        Exact to_upper(s), to_lower(s);
        EXPECT_EQ(lumlib::to_upper(to_upper.get()), 0);
        EXPECT_EQ(lumlib::to_lower(to_lower.get()), 0);
        EXPECT_EQ(to_upper.block(), upper + '\0') << shown(s);
        EXPECT_EQ(to_lower.block(), lower + '\0') << shown(s);
    }
}

// The difference of the first differing bytes of the lowered texts,
// terminators included.
int lowered_difference(const Bytes &s1, const Bytes &s2)
{
    Bytes l1 = s1 + '\0', l2 = s2 + '\0';
    for (const Char &c : characters(s1, Rule::split))
        l1[c.at] = c.bytes.size() == 1 ? lowered(c.bytes[0]) : c.bytes[0];
    for (const Char &c : characters(s2, Rule::split))
        l2[c.at] = c.bytes.size() == 1 ? lowered(c.bytes[0]) : c.bytes[0];
    const auto differ = std::mismatch(l1.begin(), l1.end(), l2.begin(), l2.end());
    return static_cast<unsigned char>(*differ.first) - static_cast<unsigned char>(*differ.second);
}

TEST(Strcasecmp, EveryPairAgreesWithTheModel)
{
    const auto texts = all_strings("aA[\\\x82\xB1\xFF", 3);
    for (const Bytes &s1 : texts) {
        for (const Bytes &s2 : texts) {
            Exact c1(s1), c2(s2);
            EXPECT_EQ(lumlib::strcasecmp(c1.get(), c2.get()), lowered_difference(s1, s2)) << shown(s1) << shown(s2);
            EXPECT_EQ(c1.block() + c2.block(), s1 + '\0' + s2 + '\0');
        }
    }
}

TEST(Strcasecmp, LongTextsCompareTheirFirst1023Bytes)
{
    const std::string x1021(1021, 'x');
    const struct {
        std::string s1, s2;
        int expected;
    } rows[] = {
        {x1021 + "xxA", x1021 + "XXB", 0},
        {x1021 + "xA", x1021 + "XB", -1},
        {std::string(5000, 'q'), std::string(1023, 'Q'), 0},
        {x1021 + "x\x82\x41", x1021 + "x\x82\x61", 0},  // cut inside a two-byte character
        {x1021 + "\x82\x41", x1021 + "\x82\x61", -32},
    };
    for (const auto &row : rows)
        EXPECT_EQ(lumlib::strcasecmp(Exact(row.s1).get(), Exact(row.s2).get()), row.expected) << row.s1.size();
}

TEST(SrchWild, FindsTheFirstWildcardByte)
{
    for (const Bytes &s : all_strings("a*?\x81", 4)) {
        Exact text(s);
        const size_t at = s.find_first_of("*?");
        EXPECT_EQ(text.offset(lumlib::srch_wild(text.get())), at == Bytes::npos ? -1 : long(at)) << shown(s);
    }
}

}  // namespace
