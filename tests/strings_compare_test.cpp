#include <cctype>

#include "sjis_model.h"

namespace {

using namespace sjis_model;

// Changes the case of the one-byte ASCII characters of the katakana split.
Bytes folded(Bytes s, int (*change)(int))
{
    for (const Char &c : characters(s, Rule::split))
        s[c.at] = static_cast<unsigned char>(c.bytes[0]) < 0x80 ? static_cast<char>(change(c.bytes[0])) : c.bytes[0];
    return s;
}

// Three bytes per character: its kind (ASCII, half-width katakana,
// two-byte), then for ASCII the lowered byte with the backslash first, else
// its bytes, a lone lead byte's missing second byte as 0. Only characters
// that start within the limit count; a negative limit is none.
Bytes collation_key(const Bytes &s, int limit = -1)
{
    Bytes key;
    for (const Char &c : characters(s, Rule::split)) {
        const unsigned char first = c.bytes[0];
        if (limit >= 0 && c.at >= static_cast<size_t>(limit))
            break;
        if (first < 0x80)
            key += {'\0', first == '\\' ? '\0' : static_cast<char>(std::tolower(first)), '\0'};
        else
            key += {is_katakana(first) ? '\1' : '\2', c.bytes[0], c.bytes.size() == 2 ? c.bytes[1] : '\0'};
    }
    return key;
}

int order(const Bytes &k1, const Bytes &k2) { return (k1 > k2) - (k1 < k2); }

TEST(StrnCmp, EveryPairAndLimitAgreeWithTheCollation)
{
    // A letter in both cases, '_' (between the cases), the backslash, and
    // the bytes at each end of the kinds of the katakana split.
    const auto texts = all_strings("aA_\\\x7F\x80\xA0\xA1\xDF\xE0", 3);
    const int limits[] = {1, 2, -2};
    std::vector<std::vector<Bytes>> keys;
    std::vector<Exact> copies;
    for (const Bytes &s : texts) {
        keys.push_back({collation_key(s, limits[0]), collation_key(s, limits[1]), collation_key(s, limits[2])});
        copies.emplace_back(s);
    }
    for (size_t i = 0; i < texts.size(); ++i)
        for (size_t j = 0; j < texts.size(); ++j)
            for (int k = 0; k < 3; ++k)
                EXPECT_EQ(lumlib::StrnCmp(copies[i].get(), copies[j].get(), limits[k]), order(keys[i][k], keys[j][k]))
                    << shown(texts[i]) << shown(texts[j]) << limits[k];
    EXPECT_EQ(lumlib::StrnCmp("a", "b", 0), 0);
    EXPECT_EQ(lumlib::StrnCmp("\x82\xA0", "\x82\xA2", 1), -1);  // a character within the limit counts whole
}

struct Record {
    const char *path;
    int size;  // a record carries more than its path
};

TEST(CollationVariants, EveryPairAgreesWithTheModel)
{
    // StrCmp2 marks the separator before the final run of letters and
    // digits with 0x01.
    const auto marked = [](Bytes s) {
        const size_t last = s.find_last_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        return last != npos && s[last] == '.' ? s.replace(last, 1, "\x01") : s;
    };
    // DirCmp drops a trailing backslash character, but not a second byte.
    const auto dir_length = [](const Bytes &path) {
        const auto chars = characters(path, Rule::split);
        return static_cast<int>(path.size()) - (!chars.empty() && chars.back().bytes == "\\");
    };
    const auto depth = [](const Bytes &path) {
        const auto chars = characters(path, Rule::shared);
        return std::count_if(chars.begin(), chars.end(), [](const Char &c) { return c.bytes == "\\"; });
    };
    const auto texts = all_strings("aA1.\\\x81\xA0", 3);
    for (const Bytes &s1 : texts) {
        for (const Bytes &s2 : texts) {
            Exact c1(s1), c2(s2);
            const Record r1{c1.get(), 1}, r2{c2.get(), 2}, *e1 = &r1, *e2 = &r2;
            const int length = dir_length(s1), collated = order(collation_key(s1), collation_key(s2));
            const int dir_order =
                length != dir_length(s2) ? 1 : order(collation_key(s1, length), collation_key(s2, length));
            const Bytes lowered1 = folded(s1, std::tolower) + '\0', lowered2 = folded(s2, std::tolower) + '\0';
            const auto differ = std::mismatch(lowered1.begin(), lowered1.end(), lowered2.begin(), lowered2.end());
            SCOPED_TRACE(shown(s1) + " " + shown(s2));
            EXPECT_EQ(lumlib::StrCmp(c1.get(), c2.get()), collated);
            const int marked_order = order(collation_key(marked(s1)), collation_key(marked(s2)));
            EXPECT_EQ(lumlib::StrCmp2(c1.get(), c2.get(), '.' + 0x100), marked_order);
            EXPECT_EQ(c1.bytes() + c2.bytes(), s1 + '\0' + s2 + '\0');  // restored after StrCmp2
            EXPECT_EQ(lumlib::DirCmp(c1.get(), c2.get()), dir_order);
            const int deeper = (depth(s1) > depth(s2)) - (depth(s1) < depth(s2));
            EXPECT_EQ(lumlib::comp_file(&e1, &e2), deeper != 0 ? deeper : collated);
            EXPECT_EQ(lumlib::strcasecmp(c1.get(), c2.get()),
                      static_cast<unsigned char>(*differ.first) - static_cast<unsigned char>(*differ.second));
        }
    }
    char name[] = "file.ext";
    EXPECT_EQ(lumlib::StrCmp2(name, name, '.'), 0);
    EXPECT_STREQ(name, "file.ext");
}

TEST(CaseFolding, EveryByteAndTextAgreeWithTheModel)
{
    for (int c1 = 0; c1 < 256; ++c1)
        for (int c2 = 0; c2 < 256; ++c2)
            EXPECT_EQ(lumlib::cmp_ascii_ignUL(c1, c2), std::toupper(c1) == std::toupper(c2)) << c1 << ' ' << c2;
    EXPECT_EQ(lumlib::cmp_ascii_ignUL(0x161, -191), 1);  // only the low bytes 0x61 and 0x41 count
    // The letters' neighbours, and the bytes where the katakana split's
    // kinds meet.
    const Bytes bytes = "@AZ[`az{\x7F\x80\xA0\xA1\xDF\xE0";
    expect_edits(bytes, 4, lumlib::to_upper, [](const Bytes &s) { return folded(s, std::toupper); });
    expect_edits(bytes, 4, lumlib::to_lower, [](const Bytes &s) { return folded(s, std::tolower); });
}

TEST(Strcasecmp, LongTextsCompareTheirFirst1023Bytes)
{
    const Bytes x1021(1021, 'x');
    const std::tuple<Bytes, Bytes, int> rows[] = {
        {x1021 + "xxA", x1021 + "XXB", 0},
        {x1021 + "xA", x1021 + "XB", -1},
        {Bytes(5000, 'q'), Bytes(1023, 'Q'), 0},
        {x1021 + "x\x82\x41", x1021 + "x\x82\x61", 0},  // cut inside a two-byte character
        {x1021 + "\x82\x41", x1021 + "\x82\x61", -32},
    };
    for (const auto &[s1, s2, difference] : rows)
        EXPECT_EQ(lumlib::strcasecmp(Exact(s1).get(), Exact(s2).get()), difference) << s1.size();
}

TEST(SrchWild, FindsTheFirstWildcardByte)
{
    expect_positions("a*?\x81", 4, lumlib::srch_wild, [](const Bytes &s) { return s.find_first_of("*?"); });
}

}  // namespace
