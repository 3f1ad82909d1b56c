// The string routines checked against an independent model of Shift-JIS
// text: a string is split into its characters once, under the boundary rule
// a routine follows, and each routine's expected result is read off those
// characters. Checks run over every short string of a small alphabet, with
// explicit rows only for what short strings cannot reach.
#ifndef _WIN32
#include <strings.h>  // the C library's index, rindex and bcopy, next to the library's
#endif
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "lumlib/strings.h"

namespace {

using Bytes = std::string;
constexpr size_t npos = Bytes::npos;

// One byte of each class the boundary rules tell apart: ASCII that can or
// cannot be a second byte ('a', 0x40, 0x5C, 0x7F), lead bytes at both ends
// of both ranges, bytes that lead under the katakana split alone (0x80,
// 0xA0, 0xFD-0xFF) and a half-width katakana byte.
const Bytes kClasses = "a@\\\x7F\x81\x9F\xE0\xFC\x80\xA0\xFD\xFE\xFF\xB1";

// Every string of at most max_len bytes over the alphabet, shortest first.
std::vector<Bytes> all_strings(const Bytes &alphabet, size_t max_len)
{
    std::vector<Bytes> strings{""};
    for (size_t i = 0; strings[i].size() < max_len; ++i)
        for (char c : alphabet)
            strings.push_back(strings[i] + c);
    return strings;
}

// shared: a lead byte takes any byte after it. cp932: a lead byte takes a
// code page 932 trail byte. split: every high byte but half-width katakana
// takes any byte after it.
enum class Rule { shared, cp932, split };

bool is_lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
bool is_katakana(unsigned char c) { return c >= 0xA1 && c <= 0xDF; }

bool pairs(unsigned char c, unsigned char next, Rule rule)
{
    if (rule == Rule::cp932)
        return is_lead(c) && ((next >= 0x40 && next <= 0x7E) || (next >= 0x80 && next <= 0xFC));
    return (rule == Rule::shared ? is_lead(c) : c >= 0x80 && !is_katakana(c)) && next != 0;
}

struct Char {
    size_t at;
    Bytes bytes;
};

std::vector<Char> characters(const Bytes &s, Rule rule = Rule::shared)
{
    std::vector<Char> chars;
    for (size_t i = 0; i < s.size(); i += chars.back().bytes.size())
        chars.push_back({i, s.substr(i, pairs(s[i], s[i + 1], rule) ? 2 : 1)});
    return chars;
}

// The offset of the first (or last) character that satisfies matches; npos
// if none.
template <class Matches>
size_t find(const std::vector<Char> &chars, bool last, Matches matches)
{
    size_t found = npos;
    for (const Char &c : chars)
        if (matches(c) && (found == npos || last))
            found = c.at;
    return found;
}

// A copy in a heap block of exactly its size, so that the sanitizer build
// catches a read past the end; unterminated for an output buffer whose
// last byte must not be zero.
struct Exact : std::vector<char> {
    explicit Exact(const Bytes &s, bool terminated = true) : vector(s.c_str(), s.c_str() + s.size() + terminated) {}
    Bytes bytes() const { return Bytes(begin(), end()); }
    // A result's offset in the block, npos for null.
    size_t offset(const char *p) const { return p == nullptr ? npos : static_cast<size_t>(p - data()); }
};

std::string shown(const Bytes &s) { return testing::PrintToString(s); }

// A position found in s, or the end of s for none.
size_t or_end(const Bytes &s, size_t pos) { return std::min(pos, s.size()); }

// Checks an in-place edit, which returns 0, against the model of the whole
// block it leaves, on every string. The block has the room asked for after
// the terminator, no byte of it zero.
template <class Edit, class Model>
void expect_edits(const Bytes &alphabet, size_t max_len, Edit edit, Model model, size_t room = 0)
{
    for (const Bytes &s : all_strings(alphabet, max_len)) {
        Exact text(s + '\0' + Bytes(room, '~'), false);
        EXPECT_EQ(edit(text.data()), 0) << shown(s);
        EXPECT_EQ(text.bytes(), model(s) + '\0') << shown(s);
    }
}

// ---- Search and scanning --------------------------------------------------

// Every string of up to 4 bytes with every byte, and those of up to 3 with
// every pattern of up to 2.
TEST(Search, EveryStringAgreesWithTheModel)
{
    const std::vector<Bytes> patterns = all_strings(kClasses, 2), none;
    for (const Bytes &s : all_strings(kClasses, 4)) {
        SCOPED_TRACE(shown(s));
        // Lead bytes past the terminator would change a result if a walk
        // went on there; get_prech's positions may point at them.
        Exact text(s + '\0' + "\x81\x81"), bare(s);
        const auto shared = characters(s), cp932 = characters(s, Rule::cp932);
        for (const Bytes &p : s.size() < 4 ? patterns : none) {
            Exact pat(p);
            auto continues = [&](const Char &c) { return !p.empty() && s.compare(c.at, p.size(), p) == 0; };
            auto in_set = [&](const Char &c) { return c.bytes.size() == 1 && p.find(c.bytes) != npos; };
            EXPECT_EQ(bare.offset(lumlib::serstr(bare.data(), pat.data())), find(cp932, false, continues)) << shown(p);
            EXPECT_EQ(bare.offset(lumlib::index1(bare.data(), pat.data())), s.empty() ? npos : s.find(p)) << shown(p);
            EXPECT_EQ(bare.offset(lumlib::index2(bare.data(), pat.data())), find(shared, false, in_set)) << shown(p);
        }
        for (char c : kClasses + '\0') {
            auto starts_with_c = [c](const Char &ch) { return ch.bytes[0] == c; };
            // Only the low 8 bits count: the argument is above 0xFF or
            // below 0 for some strings.
            const int arg = c + (s.size() % 2 == 1 ? 0x100 : 0);
            EXPECT_EQ(text.offset(lumlib::Strchr(text.data(), arg)), find(shared, false, starts_with_c)) << arg;
            EXPECT_EQ(text.offset(lumlib::Strrchr(text.data(), arg)), find(shared, true, starts_with_c)) << arg;
            EXPECT_EQ(text.offset(lumlib::index(text.data(), arg)), s.find(c)) << arg;
            EXPECT_EQ(text.offset(lumlib::rindex(text.data(), arg)), s.rfind(c)) << arg;
        }
        Bytes flags = s + "\x55\x55", expected;
        for (const Char &c : shared)
            expected += c.bytes.size() == 1 ? Bytes(1, 0) : Bytes("\1\2");
        EXPECT_EQ(lumlib::set_kanji_flg(text.data(), flags.data()), 0);
        EXPECT_EQ(flags, expected + "\x55\x55");
        // The cut before a limit of pos - 1 is the start of the first
        // character that ends at pos or later.
        for (size_t pos = 0; pos <= s.size() + 3; ++pos) {
            const auto ends_late = [pos](const Char &c) { return c.at + c.bytes.size() >= pos; };
            const size_t cut = or_end(s, find(characters(s, Rule::split), false, ends_late));
            EXPECT_EQ(text.offset(lumlib::get_prech(text.data(), text.data() + pos)),
                      find(shared, true, [pos](const Char &c) { return c.at < pos; })) << pos;
            EXPECT_EQ(text.offset(lumlib::charcode_endpos(text.data(), static_cast<int>(pos) - 1)), cut) << pos;
        }
        EXPECT_EQ(text.offset(lumlib::charcode_endpos(text.data(), INT_MAX)), s.size());
        EXPECT_EQ(text.offset(lumlib::charcode_endpos(text.data(), INT_MIN)), 0u);
    }
}

#ifndef _WIN32
TEST(Coexistence, LibraryAndCLibraryRoutinesAreBothCallable)
{
    char text[] = "ab", to[] = "123";
    EXPECT_EQ(::rindex(text, '\0') - lumlib::rindex(text, 'b'), 1);  // the C library's rindex finds the terminator
    ::bcopy("x", to, 1);  // the C library's takes the source first, the library's the destination
    lumlib::bcopy(to + 1, "y", 1);
    EXPECT_STREQ(to, "xy3");
}
#endif

// ---- Editing ------------------------------------------------------------

bool is_separator(const Char &c) { return c.bytes == "\\"; }

// Over bytes the path routines look for, a lead byte (so that 0x5C can be a
// second byte) and a high byte that leads nothing: findExt finds the last
// full stop of the last component; sepname splits at the backslash after
// the first wildcard, where its walk starts.
TEST(PathSplitting, EveryPathAgreesWithTheModel)
{
    for (const Bytes &path : all_strings("a.\\*?\x81\xFF", 5)) {
        const size_t last_sep = find(characters(path), true, is_separator), dot = path.rfind('.');
        const size_t wildcard = or_end(path, path.find_first_of("*?"));
        const size_t found = find(characters(path.substr(wildcard)), false, is_separator);
        const size_t sep = found == npos ? path.size() : wildcard + found;
        const Bytes head = path.substr(0, sep), rest = found == npos ? "" : path.substr(sep + 1);
        // Output buffers with the room promised, no byte of it zero.
        Exact text(path), head_buf(Bytes(path.size() + 1, '~'), false), rest_buf(Bytes(path.size() + 1, '~'), false);
        EXPECT_EQ(text.offset(lumlib::findExt(text.data())), last_sep != npos && dot < last_sep ? npos : dot);
        EXPECT_EQ(lumlib::sepname(text.data(), head_buf.data(), rest_buf.data()), 0);
        const auto padded = [&](const Bytes &part) { return part + '\0' + Bytes(path.size() - part.size(), '~'); };
        EXPECT_EQ(text.bytes() + head_buf.bytes() + rest_buf.bytes(),
                  (found == npos ? path : head + '\0' + rest) + '\0' + padded(head) + padded(rest)) << shown(path);
    }
    Exact path("a*\\b\\c"), rest("......"), path2("a*\\b\\c"), head("......");
    lumlib::sepname(path.data(), path.data(), rest.data());  // the path may serve as head or rest
    lumlib::sepname(path2.data(), head.data(), path2.data());
    EXPECT_EQ(Bytes(path.data()) + rest.data() + head.data() + path2.data(), "a*b\\ca*b\\c");
}

// The bytes that trimming and quoting look at, and a lead byte before them.
// insChar's block has the room promised, its spare byte not zero.
TEST(Trimming, QuotesTrailingBlanksAndInsertionsAgreeWithTheModel)
{
    const Bytes bytes = "a\" \t\n\x81";
    // The string moves left over the leading quote, terminator included; a
    // closing quote after it becomes a terminator.
    expect_edits(bytes, 5, lumlib::cutQuoteChar, [](const Bytes &s) {
        const size_t closed = s.size() > 1 && s.back() == '"';
        return s[0] != '"' ? s : s.substr(1, s.size() - 1 - closed) + Bytes(closed + 1, '\0');
    });
    expect_edits(bytes, 5, lumlib::cutBackSpace, [](const Bytes &s) {
        const size_t kept = s.find_last_not_of(" \t") + 1;
        return s.substr(0, kept) + Bytes(s.size() - kept, '\0');
    });
    for (int c : {0x61, 0x81, 0x100, 0x158})
        expect_edits(bytes, 4, [c](char *s) { return lumlib::insChar(s, c); },
                     [c](const Bytes &s) { return static_cast<char>(c) + s; }, 1);
}

TEST(ChgChr, ReplacesAtCharacterStartsDecidingLengthsAfterwards)
{
    const Bytes bytes("a\\\x81\xFC\xFD\0", 6);
    // Only the low 8 bits count: from is below 0 for high bytes, to above
    // 0xFF.
    for (char from : bytes)
        for (char to : bytes)
            expect_edits(bytes.substr(0, 5), 4, [&](char *s) { return lumlib::ChgChr(s, from, to + 0x200) - s; },
                         [&](Bytes s) {
                             for (size_t i = 0; i < s.size(); i += is_lead(s[i]) && i + 1 < s.size() ? 2 : 1)
                                 s[i] = s[i] == from ? to : s[i];
                             return s;
                         });
}

// Every source, destination and count within one block, overlaps included.
TEST(BlockCopies, GoOneByteAtATimeInTheDocumentedOrder)
{
    for (int src = 0; src < 5; ++src)
        for (int dst = 0; dst < 5; ++dst)
            for (int count = -1; count <= 5 - std::max(src, dst); ++count) {
                Bytes backward = "abcde", forward = backward, filled = backward;
                for (int k = 0; k < count; ++k) {
                    backward[dst + count - 1 - k] = backward[src + count - 1 - k];
                    forward[dst + k] = forward[src + k];
                    filled[dst + k] = '-';
                }
                Exact bak("abcde"), fwd("abcde"), fill("abcde");
                EXPECT_EQ(lumlib::bakmov(bak.data() + src, bak.data() + dst, count), 0);
                EXPECT_EQ(lumlib::bcopy(fwd.data() + dst, fwd.data() + src, count), 0);
                lumlib::clear(fill.data() + dst, '-' + 0x100, count);
                EXPECT_EQ(bak.bytes() + fwd.bytes() + fill.bytes(), backward + '\0' + forward + '\0' + filled + '\0')
                    << src << ' ' << dst << ' ' << count;
            }
}

// ---- Comparison, case folding and wildcards ----------------------------

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
// that start before the limit count.
Bytes collation_key(const Bytes &s, size_t limit = npos)
{
    Bytes key;
    for (const Char &c : characters(s.substr(0, limit), Rule::split)) {
        const unsigned char first = c.bytes[0];
        const char second = s.c_str()[c.at + 1];
        if (first < 0x80)
            key += {'\0', first == '\\' ? '\0' : static_cast<char>(std::tolower(first)), '\0'};
        else
            key += {is_katakana(first) ? '\1' : '\2', c.bytes[0], pairs(first, second, Rule::split) ? second : '\0'};
    }
    return key;
}

// The model's keys of one text: for StrnCmp's limits 0, 1 and 2; with no
// limit; with StrCmp2's separator before the final run of letters and
// digits marked 0x01; DirCmp's length (one trailing backslash character
// dropped, not a second byte) before the key of that length; comp_file's
// count of backslash characters before the whole key; and the text lowered,
// terminator included.
std::array<Bytes, 8> model_of(const Bytes &s)
{
    const size_t last = s.find_last_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const auto split = characters(s, Rule::split), shared = characters(s);
    const size_t dir_length = s.size() - (!split.empty() && split.back().bytes == "\\");
    const auto depth = static_cast<char>(std::count_if(shared.begin(), shared.end(), is_separator));
    return {collation_key(s, 0), collation_key(s, 1), collation_key(s, 2), collation_key(s),
            collation_key(last != npos && s[last] == '_' ? Bytes(s).replace(last, 1, "\x01") : s),
            static_cast<char>(dir_length) + collation_key(s, dir_length), depth + collation_key(s),
            folded(s, std::tolower) + '\0'};
}

int order(const Bytes &k1, const Bytes &k2) { return (k1 > k2) - (k1 < k2); }

// The byte at a position, as an unsigned value; the terminator at the end.
int byte(const Bytes &s, size_t at) { return static_cast<unsigned char>(s.c_str()[at]); }

// A letter in both cases, '_' (between the cases, and StrCmp2's separator
// here), the backslash, and the bytes at each end of the kinds of the
// katakana split, some of them lead bytes under the shared rule.
TEST(Collation, EveryPairAgreesWithTheModelAndLongTextsCompareTheirFirst1023Bytes)
{
    const auto strings = all_strings("aA_\\\x7F\x80\xA0\xA1\xDF\xE0", 3);
    std::vector<Exact> texts(strings.begin(), strings.end());
    std::vector<std::array<Bytes, 8>> models(strings.size());
    std::transform(strings.begin(), strings.end(), models.begin(), model_of);
    for (size_t i = 0; i < texts.size(); ++i)
        for (size_t j = 0; j < texts.size(); ++j) {
            // comp_file's elements point to records whose first member is the path.
            char *s1 = texts[i].data(), *s2 = texts[j].data(), **e1 = &s1, **e2 = &s2;
            const auto &m1 = models[i], &m2 = models[j];
            const auto by = [&](int k) { return order(m1[k], m2[k]); };
            const size_t at = std::mismatch(m1[7].begin(), m1[7].end(), m2[7].begin()).first - m1[7].begin();
            const std::array<int, 9> got = {
                lumlib::StrnCmp(s1, s2, 0), lumlib::StrnCmp(s1, s2, 1), lumlib::StrnCmp(s1, s2, 2),
                lumlib::StrnCmp(s1, s2, -2), lumlib::StrCmp(s1, s2), lumlib::StrCmp2(s1, s2, '_' + 0x100),
                lumlib::DirCmp(s1, s2), lumlib::comp_file(&e1, &e2), lumlib::strcasecmp(s1, s2)};
            const int dir = m1[5][0] != m2[5][0] ? 1 : by(5), lowered = byte(m1[7], at) - byte(m2[7], at);
            const std::array<int, 9> want = {by(0), by(1), by(2), by(3), by(3), by(4), dir, by(6), lowered};
            ASSERT_EQ(got, want) << shown(strings[i]) << " " << shown(strings[j]);
        }
    for (size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(texts[i].bytes(), strings[i] + '\0');  // StrCmp2 restores its arguments
    // strcasecmp compares copies of the first 1023 bytes, cut inside a
    // two-byte character too.
    const Bytes x(1021, 'x');
    const std::tuple<Bytes, Bytes, int> long_rows[] = {{x + "xxA", x + "XXB", 0}, {x + "xA", x + "XB", -1},
        {Bytes(5000, 'q'), Bytes(1023, 'Q'), 0}, {x + "x\x82\x41", x + "x\x82\x61", 0},
        {x + "\x82\x41", x + "\x82\x61", -32}};
    for (const auto &[s1, s2, difference] : long_rows)
        EXPECT_EQ(lumlib::strcasecmp(Exact(s1).data(), Exact(s2).data()), difference) << shown(s2.substr(1021));
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

// ---- Tokens and parameters ---------------------------------------------

// The buffer that SetParam leaves, of size bytes and two more of slack, and
// where it stopped: a quoted token without its quotes, a bracketed one with
// the character where it stopped (the ']', or the terminator), a bare one.
// Characters are taken while the count, decreased before each, stays
// positive, no end byte is reached and the character fits whole with the
// terminator (and the bracket's stop) after it. A size below 1 leaves the
// buffer untouched.
std::pair<Bytes, size_t> set_param(const Bytes &src, int size)
{
    const size_t start = or_end(src, src.find_first_not_of(" \t"));
    const Bytes slack(static_cast<size_t>(size) + 2, '~');
    if (size < 1)
        return {slack, start};
    const bool quoted = src[start] == '"', bracketed = src[start] == '[';
    Bytes taken;
    int count = size - bracketed;
    for (const Char &c : characters(src.substr(start + quoted))) {
        const bool ends = std::strchr(quoted ? "\"" : bracketed ? "]" : "= \t", c.bytes[0]) != nullptr;
        if (--count <= 0 || ends || (taken + c.bytes).size() + 1 + bracketed > slack.size() - 2)
            break;
        taken += c.bytes;
    }
    const size_t stop = start + quoted + taken.size();
    const Bytes stop_char = characters(src.substr(stop) + '\0')[0].bytes;  // the terminator at the end
    taken += bracketed && (taken + stop_char).size() + 2 < slack.size() ? stop_char : "";
    return {(taken + '\0' + slack).substr(0, slack.size()), stop};
}

TEST(SetParam, EveryTextAndSizeAgreeWithTheModel)
{
    for (const Bytes &src : all_strings(" \"[]=a\x81", 5))
        for (int size = -1; size <= static_cast<int>(src.size()) + 2; ++size) {
            Bytes out(static_cast<size_t>(size) + 2, '~');
            Exact text(src);
            const size_t stop = text.offset(lumlib::SetParam(text.data(), out.data(), size));
            EXPECT_EQ(std::make_pair(out, stop), set_param(src, size)) << shown(src) << " " << size;
        }
}

TEST(ByteScans, EveryTextAgreesWithTheModel)
{
    const Bytes digits = "0123456789", word = digits + "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_.";
    // Blanks, quotes, redirections and the classes of the word routines with
    // their neighbours in the byte order.
    for (const Bytes &s : all_strings(" \t\n\r\"'<>;,/09:@AZ[\\`az{-_.*?\x81", 3)) {
        SCOPED_TRACE(shown(s));
        Exact text(s);
        const size_t start = or_end(s, s.find_first_not_of(" \t"));
        const bool quoted = s[start] == '"' || s[start] == '\'';
        size_t option_end = quoted ? or_end(s, s.find_first_of({s[start], '<', '>'}, start + 1))
                                   : or_end(s, s.find_first_of(" \t\"'<>;", start));
        option_end += quoted && s[option_end] == s[start];
        EXPECT_EQ(text.offset(lumlib::sp_skip(text.data())), start);
        EXPECT_EQ(text.offset(lumlib::chr_skip(text.data())), or_end(s, s.find_first_of(" \t")));
        EXPECT_EQ(text.offset(lumlib::words_skip(text.data())), or_end(s, s.find_first_of(word)));
        EXPECT_EQ(text.offset(lumlib::words_skip2(text.data())), or_end(s, s.find_first_not_of(word + "/\\:")));
        EXPECT_EQ(text.offset(lumlib::optionStr_skip(text.data())), option_end);
        EXPECT_EQ(lumlib::isnum(text.data()), s.find_first_not_of(digits) >= or_end(s, s.find_first_of(" \t\n")));
        EXPECT_EQ(text.offset(lumlib::srch_wild(text.data())), s.find_first_of("*?"));
    }
}

// The sum of the signed numbers, or 0 at any other byte.
long long sum_of(const Bytes &s)
{
    long long sum = 0, sign = 1;
    for (size_t i = 0, digits = 0; i < s.size(); i += std::max<size_t>(digits, 1)) {
        digits = or_end(s, s.find_first_not_of("0123456789", i)) - i;
        if (digits == 0 && s[i] != '+' && s[i] != '-')
            return 0;
        sign = digits > 0 ? sign : s[i] == '-' ? -1 : 1;
        sum += digits > 0 ? sign * std::stoll(s.substr(i, digits)) : 0;
    }
    return sum;
}

TEST(StrToInt, EveryShortTextAndTheWrappingRows)
{
    for (const Bytes &s : all_strings("09:+- ", 5))
        EXPECT_EQ(lumlib::strToInt(Exact(s).data()), sum_of(s)) << shown(s);
    const std::pair<Bytes, int> rows[] = {{"2147483647+1", INT_MIN},  {"-2147483648-1", INT_MAX},
                                          {"4294967295", -1},          {"4294967297", 1},
                                          {"-99999999999", -1215752191}, {"99999999999999999999", 1661992959}};
    for (const auto &[text, value] : rows)  // every step wraps modulo 2^32
        EXPECT_EQ(lumlib::strToInt(Exact(text).data()), value) << text;
}

// The line with each tab expanded to the next multiple of the width, up to
// where it is too long.
Bytes expanded(int width, const Bytes &line)
{
    Bytes out;
    for (char c : line)
        out.append(c == '\t' ? std::min(width - static_cast<int>(out.size()) % width, 4096) : 1, c == '\t' ? ' ' : c);
    return out;
}

// The child puts its standard output on the standard error stream, which
// the death test reads, and drops the stream of its own: the message counts
// only when it was written on the standard output.
void exp_tab_on_stdout(int width, const char *line)
{
    dup2(fileno(stderr), fileno(stdout));
    std::fclose(stderr);
    lumlib::exp_tab(width, line);
    std::_Exit(2);
}

// Every short line with small widths, and lines near the limit of 4095
// columns; a width below 1 counts as 1. A line too long ends the process
// with a message that shows its first 256 bytes, right-aligned.
TEST(TabExpansionDeathTest, EveryShortLineAndTheLongRowsAgreeWithTheModel)
{
    std::vector<std::pair<int, Bytes>> rows = {{8, Bytes(4095, 'x')},        {8, Bytes(4096, 'x')},
                                               {8, Bytes(4088, 'x') + "\t"}, {8, Bytes(4087, 'x') + "\t"},
                                               {4096, "\t"},                 {INT_MAX, "\t"},
                                               {0, Bytes(4095, '\t')},       {INT_MIN, Bytes(4096, '\t')},
                                               {5000, "x\ty"},               {8, Bytes(256, 'a') + Bytes(3840, 'b')}};
    for (const Bytes &line : all_strings("a\t\x81", 4))
        for (int width : {-1, 0, 1, 2, 3, 4, 8})
            rows.emplace_back(width, line);
    for (const auto &[width, line] : rows) {
        const Bytes out = expanded(std::max(width, 1), line), field = line.substr(0, 256);
        const Exact text(line);
        SCOPED_TRACE(shown(line.substr(0, 8)) + std::to_string(line.size()) + " width " + std::to_string(width));
        EXPECT_EQ(lumlib::chk_exptab(width, text.data()), out.size() < 4096 ? static_cast<int>(out.size()) + 1 : -1);
        if (out.size() < 4096)
            EXPECT_EQ(lumlib::exp_tab(width, text.data()), out);
        else
            EXPECT_EXIT(exp_tab_on_stdout(width, text.data()), testing::ExitedWithCode(1),
                        testing::Matcher<const std::string &>("Error: " + Bytes(256 - field.size(), ' ') + field +
                                                              " ... too long line\n"));
    }
}

}  // namespace
