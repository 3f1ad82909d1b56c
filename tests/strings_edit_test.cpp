#include <algorithm>
#include <climits>
#include <string>

#include <gtest/gtest.h>

#include "lumlib/strings.h"
#include "sjis_model.h"

namespace {

using namespace sjis_model;

// Bytes the path routines look for, a lead byte (so 0x5C can be a second
// byte) and a high byte that leads nothing.
const Bytes kPathBytes = "a.\\*?\x81\xFF";

// The offset where the last backslash character ends, 0 if there is none.
size_t component_start(const Bytes &path)
{
    size_t start = 0;
    for (const Char &c : characters(path, Rule::shared))
        if (c.bytes == "\\")
            start = c.at + 1;
    return start;
}

TEST(FindExt, FindsTheLastFullStopOfTheLastComponent)
{
    for (const Bytes &path : all_strings(kPathBytes, 5)) {
        const size_t dot = path.rfind('.');
        const long expected = dot != Bytes::npos && dot >= component_start(path) ? static_cast<long>(dot) : -1;
        Exact text(path);
        EXPECT_EQ(text.offset(lumlib::findExt(text.get())), expected) << shown(path);
    }
}

// A buffer of size bytes, none of them zero, so that a missing terminator
// shows.
Exact room(size_t size)
{
    Exact buffer(Bytes(size - 1, '~'));
    buffer.get()[size - 1] = '~';
    return buffer;
}

TEST(Sepname, SplitsAtTheBackslashAfterTheFirstWildcard)
{
    for (const Bytes &path : all_strings(kPathBytes, 5)) {
        const size_t wildcard = std::min(path.find_first_of("*?"), path.size());
        const auto chars = characters(path.substr(wildcard), Rule::shared);
        const auto sep = std::find_if(chars.begin(), chars.end(), [](const Char &c) { return c.bytes == "\\"; });
        Bytes cut = path, rest;
        if (sep != chars.end()) {
            cut[wildcard + sep->at] = '\0';
            rest = path.substr(wildcard + sep->at + 1);
        }
        const Bytes head = cut.substr(0, cut.find('\0'));
        Exact text(path), head_buf = room(path.size() + 1), rest_buf = room(path.size() + 1);
        EXPECT_EQ(lumlib::sepname(text.get(), head_buf.get(), rest_buf.get()), 0);
        EXPECT_EQ(text.block(), cut + '\0') << shown(path);
        EXPECT_EQ(head_buf.block(), head + '\0' + Bytes(path.size() - head.size(), '~')) << shown(path);
        EXPECT_EQ(rest_buf.block(), rest + '\0' + Bytes(path.size() - rest.size(), '~')) << shown(path);
    }
}

TEST(Sepname, ThePathMayServeAsHeadOrRest)
{
    Exact path("a*\\b\\c"), rest("......"), path2("a*\\b\\c"), head("......");
    lumlib::sepname(path.get(), path.get(), rest.get());
    EXPECT_STREQ(path.get(), "a*");
    EXPECT_STREQ(rest.get(), "b\\c");
    lumlib::sepname(path2.get(), head.get(), path2.get());
    EXPECT_STREQ(head.get(), "a*");
    EXPECT_STREQ(path2.get(), "b\\c");
}

// The bytes that trimming and quoting look at, and a lead byte before them.
const Bytes kTrimBytes = "a\" \t\n\x81";

TEST(Trimming, QuotesAndTrailingBlanksGoAsDocumented)
{
    for (const Bytes &s : all_strings(kTrimBytes, 5)) {
        Exact quoted(s), blanked(s);
        Bytes unquoted = s;
        if (s[0] == '"') {
            unquoted.erase(0, 1);
            if (!unquoted.empty() && unquoted.back() == '"')
                unquoted.pop_back();
        }
        EXPECT_EQ(lumlib::cutQuoteChar(quoted.get()), 0);
        EXPECT_EQ(Bytes(quoted.get()), unquoted) << shown(s);
        const size_t kept = s.find_last_not_of(" \t") + 1;
        EXPECT_EQ(lumlib::cutBackSpace(blanked.get()), 0);
        EXPECT_EQ(blanked.block(), s.substr(0, kept) + Bytes(s.size() - kept + 1, '\0')) << shown(s);
    }
}

// The replacement walk: a byte's length is decided after its replacement.
Bytes replaced(Bytes s, char from, char to)
{
    for (size_t i = 0; i < s.size(); i += is_lead(s[i]) && i + 1 < s.size() ? 2 : 1)
        if (s[i] == from)
            s[i] = to;
    return s;
}

TEST(ChgChr, ReplacesAtCharacterStartsOnly)
{
    const Bytes bytes = Bytes("a\\\x81\xFC\xFD", 5) + '\0';
    for (const Bytes &s : all_strings(bytes.substr(0, 5), 4)) {
        for (char from : bytes) {
            for (char to : bytes) {
                Exact text(s);
                EXPECT_EQ(lumlib::ChgChr(text.get(), static_cast<unsigned char>(from), static_cast<unsigned char>(to)),
                          text.get());
                EXPECT_EQ(text.block(), replaced(s, from, to) + '\0') << shown(s) << int(from) << ' ' << int(to);
            }
        }
    }
    Exact text("a\\b");
    lumlib::ChgChr(text.get(), 0x15C, -0xD1);
    EXPECT_STREQ(text.get(), "a/b");
}

TEST(InsChar, InsertsBeforeTheFirstByteWithinTheRoomPromised)
{
    for (const Bytes &s : all_strings(kTrimBytes, 4)) {
        for (char c : kTrimBytes + '\0') {
            // Exactly the room promised, its spare byte not zero.
            Exact text(s + '\0');
            text.get()[s.size() + 1] = '~';
            EXPECT_EQ(lumlib::insChar(text.get(), static_cast<unsigned char>(c)), 0);
            EXPECT_EQ(text.block(), c + s + '\0') << shown(s) << int(c);
        }
    }
    Exact text(Bytes("a\0", 2));
    lumlib::insChar(text.get(), 0x158);
    EXPECT_STREQ(text.get(), "Xa");
}

// Every source, destination and count within one block, overlaps included.
TEST(BlockCopies, GoOneByteAtATimeInTheDocumentedOrder)
{
    const Bytes start = "abcde";
    for (int src = 0; src < 5; ++src) {
        for (int dst = 0; dst < 5; ++dst) {
            for (int count = -1; count <= 5 - std::max(src, dst); ++count) {
                Bytes backward = start, forward = start, filled = start;
                for (int k = count - 1; k >= 0; --k)
                    backward[dst + k] = backward[src + k];
                for (int k = 0; k < count; ++k) {
                    forward[dst + k] = forward[src + k];
                    filled[dst + k] = '-';
                }
                Exact bak(start), fwd(start), fill(start);
                EXPECT_EQ(lumlib::bakmov(bak.get() + src, bak.get() + dst, count), 0);
                EXPECT_EQ(lumlib::bcopy(fwd.get() + dst, fwd.get() + src, count), 0);
                lumlib::clear(fill.get() + dst, '-' + 0x100, count);
                const std::string trace = std::to_string(src) + " " + std::to_string(dst) + " " + std::to_string(count);
                EXPECT_EQ(bak.block(), backward + '\0') << trace;
                EXPECT_EQ(fwd.block(), forward + '\0') << trace;
                EXPECT_EQ(fill.block(), filled + '\0') << trace;
            }
        }
    }
    Exact block("abcd");
    lumlib::bakmov(block.get(), block.get() + 1, INT_MIN);
    lumlib::bcopy(block.get() + 1, block.get(), INT_MIN);
    lumlib::clear(block.get(), 'x', INT_MIN);
    EXPECT_STREQ(block.get(), "abcd");
}

}  // namespace
