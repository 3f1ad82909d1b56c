#include <climits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lumlib/strings.h"
#include "sjis_model.h"

namespace {

using namespace sjis_model;

// The first (or last) character whose bytes, from its start on, satisfy
// matches; -1 if none.
template <class Matches>
long find(const std::vector<Char> &chars, bool last, Matches matches)
{
    long found = -1;
    for (const Char &c : chars)
        if (matches(c) && (found < 0 || last))
            found = static_cast<long>(c.at);
    return found;
}

TEST(ByteSearch, EveryStringAndSearchByteAgreeWithTheModel)
{
    for (const Bytes &s : all_strings(kClasses, 4)) {
        Exact text(s);
        const char *t = text.get();
        const auto shared = characters(s, Rule::shared), bytes = characters(s, Rule::every_byte);
        for (char c : kClasses + '\0') {
            auto starts_with_c = [c](const Char &ch) { return ch.bytes[0] == c; };
            const int arg = static_cast<unsigned char>(c);
            EXPECT_EQ(text.offset(lumlib::Strchr(t, arg)), find(shared, false, starts_with_c)) << shown(s) << arg;
            EXPECT_EQ(text.offset(lumlib::Strrchr(t, arg)), find(shared, true, starts_with_c)) << shown(s) << arg;
            EXPECT_EQ(text.offset(lumlib::index(t, arg)), find(bytes, false, starts_with_c)) << shown(s) << arg;
            EXPECT_EQ(text.offset(lumlib::rindex(t, arg)), find(bytes, true, starts_with_c)) << shown(s) << arg;
        }
    }
}

TEST(ByteSearch, OnlyTheLowEightBitsOfTheSearchByteCount)
{
    const Exact text("\x95\x5C\x5C\xFF");
    for (int c : {0x15C, 0x5C - 0x100, 0x5C + INT_MIN}) {
        EXPECT_EQ(lumlib::Strchr(text.get(), c), text.get() + 2);
        EXPECT_EQ(lumlib::Strrchr(text.get(), c), text.get() + 2);
        EXPECT_EQ(lumlib::index(text.get(), c), text.get() + 1);
        EXPECT_EQ(lumlib::rindex(text.get(), c), text.get() + 2);
    }
    EXPECT_EQ(lumlib::Strchr(text.get(), -1), text.get() + 3);
    EXPECT_EQ(lumlib::index(text.get(), 0x100), nullptr);
}

TEST(PatternSearch, EveryStringAndPatternAgreeWithTheModel)
{
    const auto patterns = all_strings(kClasses, 2);
    for (const Bytes &s : all_strings(kClasses, 3)) {
        Exact text(s);
        const auto cp932 = characters(s, Rule::cp932), shared = characters(s, Rule::shared);
        const auto bytes = characters(s, Rule::every_byte);
        for (const Bytes &p : patterns) {
            const Exact pattern_block(p);
            const char *t = text.get(), *pattern = pattern_block.get();
            auto continues = [&](const Char &c) { return s.compare(c.at, p.size(), p) == 0; };
            auto in_set = [&](const Char &c) { return c.bytes.size() == 1 && p.find(c.bytes) != Bytes::npos; };
            const long serstr_at = p.empty() ? -1 : find(cp932, false, continues);
            EXPECT_EQ(text.offset(lumlib::serstr(t, pattern)), serstr_at) << shown(s) << shown(p);
            EXPECT_EQ(text.offset(lumlib::index1(t, pattern)), find(bytes, false, continues)) << shown(s) << shown(p);
            EXPECT_EQ(text.offset(lumlib::index2(t, pattern)), find(shared, false, in_set)) << shown(s) << shown(p);
        }
    }
}

TEST(SetKanjiFlg, WritesOneFlagPerByteAndNoMore)
{
    for (const Bytes &s : all_strings(kClasses, 4)) {
        const Bytes slack(2, '\x55');
        Bytes flags = s + slack, expected;
        for (const Char &c : characters(s, Rule::shared))
            expected += c.bytes.size() == 1 ? Bytes(1, 0) : Bytes("\1\2");
        EXPECT_EQ(lumlib::set_kanji_flg(Exact(s).get(), flags.data()), 0);
        EXPECT_EQ(flags, expected + slack) << shown(s);
    }
}

TEST(CharcodeEndpos, CutsAfterTheLastWholeCharacterThatFits)
{
    for (const Bytes &s : all_strings(kClasses, 4)) {
        Exact text(s);
        const auto chars = characters(s, Rule::split);
        for (int limit = -1; limit <= static_cast<int>(s.size()) + 1; ++limit) {
            long cut = 0;
            for (const Char &c : chars)
                if (static_cast<long>(c.at + c.bytes.size()) <= limit)
                    cut = static_cast<long>(c.at + c.bytes.size());
            EXPECT_EQ(text.offset(lumlib::charcode_endpos(text.get(), limit)), cut) << shown(s) << limit;
        }
    }
    const Exact text("ab\x82\xA0");
    EXPECT_EQ(lumlib::charcode_endpos(text.get(), INT_MAX), text.get() + 4);
    EXPECT_EQ(lumlib::charcode_endpos(text.get(), INT_MIN), text.get());
}

TEST(GetPrech, FindsTheLastCharacterStartBeforeAPosition)
{
    for (const Bytes &s : all_strings(kClasses, 4)) {
        // Lead bytes past the terminator would change the result if the
        // walk went on there; positions may point at them.
        Exact text(s + '\0' + "\x81\x81");
        const auto chars = characters(s, Rule::shared);
        for (size_t pos = 0; pos <= s.size() + 3; ++pos)
            EXPECT_EQ(text.offset(lumlib::get_prech(text.get(), text.get() + pos)),
                      find(chars, true, [pos](const Char &c) { return c.at < pos; }))
                << shown(s) << pos;
    }
}

}  // namespace
