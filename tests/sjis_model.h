// An independent model of Shift-JIS text for the string routines' tests:
// a string is split into its characters once, under the boundary rule a
// routine follows, and each routine's expected result is read off those
// characters. Checks run over every short string of a small alphabet.
#ifndef SJIS_MODEL_H
#define SJIS_MODEL_H

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lumlib/strings.h"

namespace sjis_model {

using Bytes = std::string;
constexpr size_t npos = Bytes::npos;

// One byte of each class the boundary rules tell apart: ASCII that can or
// cannot be a second byte ('a', 0x40, 0x5C, 0x7F), lead bytes at both ends
// of both ranges, bytes that lead under the katakana split alone (0x80,
// 0xA0, 0xFD-0xFF) and a half-width katakana byte.
inline const Bytes kClasses = "a@\\\x7F\x81\x9F\xE0\xFC\x80\xA0\xFD\xFE\xFF\xB1";

// Every string of at most max_len bytes over the alphabet, shortest first.
inline std::vector<Bytes> all_strings(const Bytes &alphabet, size_t max_len)
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

inline bool is_lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
inline bool is_katakana(unsigned char c) { return c >= 0xA1 && c <= 0xDF; }

inline bool pairs(unsigned char c, unsigned char next, Rule rule)
{
    if (rule == Rule::cp932)
        return is_lead(c) && ((next >= 0x40 && next <= 0x7E) || (next >= 0x80 && next <= 0xFC));
    return (rule == Rule::shared ? is_lead(c) : c >= 0x80 && !is_katakana(c)) && next != 0;
}

struct Char {
    size_t at;
    Bytes bytes;
};

inline std::vector<Char> characters(const Bytes &s, Rule rule)
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
struct Exact {
    explicit Exact(const Bytes &s, bool terminated = true) : size(s.size() + terminated), block(new char[size])
    {
        std::memcpy(block.get(), s.c_str(), size);
    }
    char *get() const { return block.get(); }
    Bytes bytes() const { return Bytes(get(), size); }
    // A result's offset in the block, npos for null.
    size_t offset(const char *p) const { return p == nullptr ? npos : static_cast<size_t>(p - get()); }

    size_t size;
    std::unique_ptr<char[]> block;
};

inline std::string shown(const Bytes &s) { return testing::PrintToString(s); }

// Checks a routine's result position against the model's on every string.
template <class Routine, class Model>
void expect_positions(const Bytes &alphabet, size_t max_len, Routine routine, Model model)
{
    for (const Bytes &s : all_strings(alphabet, max_len)) {
        Exact text(s);
        EXPECT_EQ(text.offset(routine(text.get())), model(s)) << shown(s);
    }
}

// Checks an in-place edit, which returns 0, against the model of the whole
// block it leaves, on every string.
template <class Edit, class Model>
void expect_edits(const Bytes &alphabet, size_t max_len, Edit edit, Model model)
{
    for (const Bytes &s : all_strings(alphabet, max_len)) {
        Exact text(s);
        EXPECT_EQ(edit(text.get()), 0) << shown(s);
        EXPECT_EQ(text.bytes(), model(s) + '\0') << shown(s);
    }
}

}  // namespace sjis_model

#endif
