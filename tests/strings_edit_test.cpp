#include "sjis_model.h"

namespace {

using namespace sjis_model;

// Bytes the path routines look for, a lead byte (so that 0x5C can be a
// second byte) and a high byte that leads nothing.
const Bytes kPathBytes = "a.\\*?\x81\xFF";

bool is_separator(const Char &c) { return c.bytes == "\\"; }

TEST(FindExt, FindsTheLastFullStopOfTheLastComponent)
{
    expect_positions(kPathBytes, 5, lumlib::findExt, [](const Bytes &path) {
        const size_t last_sep = find(characters(path, Rule::shared), true, is_separator), dot = path.rfind('.');
        return last_sep != npos && dot < last_sep ? npos : dot;
    });
}

TEST(Sepname, SplitsAtTheBackslashAfterTheFirstWildcard)
{
    for (const Bytes &path : all_strings(kPathBytes, 5)) {
        // The separator search starts its walk at the first wildcard.
        const size_t wildcard = std::min(path.find_first_of("*?"), path.size());
        const size_t found = find(characters(path.substr(wildcard), Rule::shared), false, is_separator);
        const size_t sep = found == npos ? npos : wildcard + found;
        Bytes cut = path, rest;
        if (sep != npos) {
            cut[sep] = '\0';
            rest = path.substr(sep + 1);
        }
        const Bytes head = cut.substr(0, sep);
        // Output buffers with the room promised, no byte of it zero.
        Exact text(path), head_buf(Bytes(path.size() + 1, '~'), false), rest_buf(Bytes(path.size() + 1, '~'), false);
        EXPECT_EQ(lumlib::sepname(text.get(), head_buf.get(), rest_buf.get()), 0);
        EXPECT_EQ(text.bytes(), cut + '\0') << shown(path);
        EXPECT_EQ(head_buf.bytes(), head + '\0' + Bytes(path.size() - head.size(), '~')) << shown(path);
        EXPECT_EQ(rest_buf.bytes(), rest + '\0' + Bytes(path.size() - rest.size(), '~')) << shown(path);
    }
    Exact path("a*\\b\\c"), rest("......"), path2("a*\\b\\c"), head("......");
    lumlib::sepname(path.get(), path.get(), rest.get());  // the path may serve as head or rest
    lumlib::sepname(path2.get(), head.get(), path2.get());
    EXPECT_EQ(Bytes(path.get()) + rest.get() + head.get() + path2.get(), "a*b\\ca*b\\c");
}

// The bytes that trimming and quoting look at, and a lead byte before them.
const Bytes kTrimBytes = "a\" \t\n\x81";

TEST(Trimming, QuotesAndTrailingBlanksGoAsDocumented)
{
    // The string moves left over the leading quote, terminator included.
    expect_edits(kTrimBytes, 5, lumlib::cutQuoteChar, [](const Bytes &s) {
        if (s[0] != '"')
            return s;
        Bytes moved = s.substr(1) + '\0';
        if (moved.size() > 1 && moved[moved.size() - 2] == '"')
            moved[moved.size() - 2] = '\0';
        return moved;
    });
    expect_edits(kTrimBytes, 5, lumlib::cutBackSpace, [](const Bytes &s) {
        const size_t kept = s.find_last_not_of(" \t") + 1;
        return s.substr(0, kept) + Bytes(s.size() - kept, '\0');
    });
}

TEST(ChgChr, ReplacesAtCharacterStartsDecidingLengthsAfterwards)
{
    const Bytes bytes("a\\\x81\xFC\xFD\0", 6);
    for (char from : bytes) {
        for (char to : bytes) {
            auto change = [&](char *s) { return lumlib::ChgChr(s, static_cast<unsigned char>(from), to) - s; };
            expect_edits(bytes.substr(0, 5), 4, change, [&](Bytes s) {
                for (size_t i = 0; i < s.size(); i += is_lead(s[i]) && i + 1 < s.size() ? 2 : 1)
                    s[i] = s[i] == from ? to : s[i];
                return s;
            });
        }
    }
    Exact text("a\\b");
    lumlib::ChgChr(text.get(), 0x15C, -0xD1);  // only the low bytes count
    EXPECT_STREQ(text.get(), "a/b");
}

TEST(InsChar, InsertsBeforeTheFirstByteWithinTheRoomPromised)
{
    for (const Bytes &s : all_strings(kTrimBytes, 4)) {
        for (int c : {0x61, 0x81, 0x100, 0x158}) {
            Exact text(s + '\0' + '~', false);  // the room promised, its spare byte not zero
            EXPECT_EQ(lumlib::insChar(text.get(), c), 0);
            EXPECT_EQ(text.bytes(), static_cast<char>(c) + s + '\0') << shown(s) << c;
        }
    }
}

// Every source, destination and count within one block, overlaps included.
TEST(BlockCopies, GoOneByteAtATimeInTheDocumentedOrder)
{
    for (int src = 0; src < 5; ++src) {
        for (int dst = 0; dst < 5; ++dst) {
            for (int count = -1; count <= 5 - std::max(src, dst); ++count) {
                Bytes backward = "abcde", forward = backward, filled = backward;
                for (int k = count - 1; k >= 0; --k)
                    backward[dst + k] = backward[src + k];
                for (int k = 0; k < count; ++k) {
                    forward[dst + k] = forward[src + k];
                    filled[dst + k] = '-';
                }
                Exact bak("abcde"), fwd("abcde"), fill("abcde");
                EXPECT_EQ(lumlib::bakmov(bak.get() + src, bak.get() + dst, count), 0);
                EXPECT_EQ(lumlib::bcopy(fwd.get() + dst, fwd.get() + src, count), 0);
                lumlib::clear(fill.get() + dst, '-' + 0x100, count);
                EXPECT_EQ(bak.bytes() + fwd.bytes() + fill.bytes(), backward + '\0' + forward + '\0' + filled + '\0')
                    << src << ' ' << dst << ' ' << count;
            }
        }
    }
    Exact block("ab");
    lumlib::bakmov(block.get(), block.get() + 1, INT_MIN);
    lumlib::bcopy(block.get() + 1, block.get(), INT_MIN);
    lumlib::clear(block.get(), 'x', INT_MIN);
    EXPECT_STREQ(block.get(), "ab");
}

}  // namespace
