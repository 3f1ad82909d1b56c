// An independent model of Shift-JIS text for the string routines' tests:
// a string is split into its characters once, under the boundary rule a
// routine follows, and each routine's expected result is read off those
// characters. Checks run over every short string of a small alphabet.
#ifndef SJIS_MODEL_H
#define SJIS_MODEL_H

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace sjis_model {

using Bytes = std::string;

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

// every_byte: no two-byte characters. shared: a lead byte takes any byte
// after it. cp932: a lead byte takes a code page 932 trail byte. split:
// every high byte but half-width katakana takes any byte after it.
enum class Rule { every_byte, shared, cp932, split };

inline bool is_lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

inline bool pairs(unsigned char c, unsigned char next, Rule rule)
{
    switch (rule) {
    case Rule::every_byte: return false;
    case Rule::shared: return is_lead(c) && next != 0;
    case Rule::cp932: return is_lead(c) && ((next >= 0x40 && next <= 0x7E) || (next >= 0x80 && next <= 0xFC));
    case Rule::split: return c >= 0x80 && (c < 0xA1 || c > 0xDF) && next != 0;
    }
    return false;
}

struct Char {
    size_t at;
    Bytes bytes;
};

inline std::vector<Char> characters(const Bytes &s, Rule rule)
{
    std::vector<Char> chars;
    for (size_t i = 0; i < s.size(); i += chars.back().bytes.size()) {
        unsigned char next = i + 1 < s.size() ? s[i + 1] : 0;
        chars.push_back({i, s.substr(i, pairs(s[i], next, rule) ? 2 : 1)});
    }
    return chars;
}

// A copy in a heap block of exactly its size (bytes after an inner zero
// included), so that the sanitizer build catches a read past the end.
class Exact {
public:
    explicit Exact(const Bytes &s) : size_(s.size() + 1), block_(new char[size_])
    {
        std::memcpy(get(), s.c_str(), size_);
    }
    char *get() const { return block_.get(); }
    // The whole block, the terminator included.
    Bytes block() const { return Bytes(get(), size_); }
    // A result's offset in the block, -1 for null.
    long offset(const char *p) const { return p == nullptr ? -1 : p - get(); }

private:
    size_t size_;
    std::unique_ptr<char[]> block_;
};

inline std::string shown(const Bytes &s) { return testing::PrintToString(s); }

}  // namespace sjis_model

#endif
