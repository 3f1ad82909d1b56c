#ifndef _WIN32
#include <strings.h>  // the C library's index, rindex and bcopy, next to the library's
#endif

#include "sjis_model.h"

namespace {

using namespace sjis_model;

TEST(ByteSearch, EveryStringAndSearchByteAgreeWithTheModel)
{
    for (const Bytes &s : all_strings(kClasses, 4)) {
        SCOPED_TRACE(shown(s));
        Exact text(s);
        const auto shared = characters(s, Rule::shared);
        for (char c : kClasses + '\0') {
            auto starts_with_c = [c](const Char &ch) { return ch.bytes[0] == c; };
            // Only the low 8 bits count: the argument is above 0xFF or
            // below 0 for some strings.
            const int arg = c + (s.size() % 2 == 1 ? 0x100 : 0);
            EXPECT_EQ(text.offset(lumlib::Strchr(text.get(), arg)), find(shared, false, starts_with_c)) << arg;
            EXPECT_EQ(text.offset(lumlib::Strrchr(text.get(), arg)), find(shared, true, starts_with_c)) << arg;
            EXPECT_EQ(text.offset(lumlib::index(text.get(), arg)), s.find(c)) << arg;
            EXPECT_EQ(text.offset(lumlib::rindex(text.get(), arg)), s.rfind(c)) << arg;
        }
    }
}

TEST(PatternSearch, EveryStringAndPatternAgreeWithTheModel)
{
    const auto patterns = all_strings(kClasses, 2);
    for (const Bytes &s : all_strings(kClasses, 3)) {
        SCOPED_TRACE(shown(s));
        Exact text(s);
        const auto cp932 = characters(s, Rule::cp932), shared = characters(s, Rule::shared);
        for (const Bytes &p : patterns) {
            const Exact pat(p);
            auto continues = [&](const Char &c) { return !p.empty() && s.compare(c.at, p.size(), p) == 0; };
            auto in_set = [&](const Char &c) { return c.bytes.size() == 1 && p.find(c.bytes) != npos; };
            EXPECT_EQ(text.offset(lumlib::serstr(text.get(), pat.get())), find(cp932, false, continues)) << shown(p);
            EXPECT_EQ(text.offset(lumlib::index1(text.get(), pat.get())), s.empty() ? npos : s.find(p)) << shown(p);
            EXPECT_EQ(text.offset(lumlib::index2(text.get(), pat.get())), find(shared, false, in_set)) << shown(p);
        }
    }
}

TEST(Scanning, EveryStringAgreesWithTheModel)
{
    for (const Bytes &s : all_strings(kClasses, 4)) {
        SCOPED_TRACE(shown(s));
        Bytes flags = s + "\x55\x55", expected;
        for (const Char &c : characters(s, Rule::shared))
            expected += c.bytes.size() == 1 ? Bytes(1, 0) : Bytes("\1\2");
        // Lead bytes past the terminator would change get_prech's result if
        // its walk went on there; positions may point at them.
        Exact text(s + '\0' + "\x81\x81");
        EXPECT_EQ(lumlib::set_kanji_flg(text.get(), flags.data()), 0);
        EXPECT_EQ(flags, expected + "\x55\x55");
        for (size_t pos = 0; pos <= s.size() + 3; ++pos) {
            const auto before = [pos](const Char &c) { return c.at < pos; };
            size_t cut = 0;
            for (const Char &c : characters(s, Rule::split))
                cut = c.at + c.bytes.size() < pos ? c.at + c.bytes.size() : cut;
            const char *prech = lumlib::get_prech(text.get(), text.get() + pos);
            EXPECT_EQ(text.offset(prech), find(characters(s, Rule::shared), true, before)) << pos;
            EXPECT_EQ(text.offset(lumlib::charcode_endpos(text.get(), static_cast<int>(pos) - 1)), cut) << pos;
        }
    }
    const Exact text("ab\x82\xA0");
    EXPECT_EQ(text.offset(lumlib::charcode_endpos(text.get(), INT_MAX)), 4u);
    EXPECT_EQ(text.offset(lumlib::charcode_endpos(text.get(), INT_MIN)), 0u);
}

#ifndef _WIN32
TEST(Coexistence, LibraryAndCLibraryRoutinesAreBothCallable)
{
    char text[] = "ab\x95\x5C", to[] = "123";
    EXPECT_EQ(::rindex(text, '\0'), text + 4);  // only the C library's finds the terminator
    EXPECT_EQ(lumlib::rindex(text, '\0'), nullptr);
    ::bcopy("x", to, 1);  // the C library's takes the source first, the library's the destination
    lumlib::bcopy(to + 1, "y", 1);
    EXPECT_STREQ(to, "xy3");
}
#endif

}  // namespace
