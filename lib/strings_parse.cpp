#include "lumlib/strings.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ascii.h"
#include "sjis.h"

namespace lumlib {

namespace {

static_assert(sizeof(int) == 4 && sizeof(unsigned) == 4, "the routines work on 32-bit int");

using sjis::byte_at;

using ascii::is_blank;
using ascii::is_digit;

bool is_word(unsigned char c) { return ascii::is_alnum(c) || c == '-' || c == '_' || c == '.'; }
bool is_path_word(unsigned char c) { return is_word(c) || c == '/' || c == '\\' || c == ':'; }

// Moves over bytes while keep says so, never past the terminator.
template <class Keep>
char *skip_while(const char *s, Keep keep)
{
    while (*s != '\0' && keep(byte_at(s)))
        ++s;
    return const_cast<char *>(s);
}

// Copies the character at p to out if it fits whole in room bytes, so that
// a two-byte character is never split. Returns the bytes copied.
int copy_char(const char *p, char *&out, int room)
{
    int length = sjis::char_len(p);
    if (length > room)
        return 0;
    std::memcpy(out, p, static_cast<size_t>(length));
    out += length;
    return length;
}

// Copies characters from p to out until ends says stop, the count runs out,
// or the next character does not fit in room bytes. Returns the first
// character not copied.
template <class Ends>
const char *take_token(const char *p, char *&out, int count, int room, Ends ends)
{
    while (--count > 0 && !ends(byte_at(p))) {
        int length = copy_char(p, out, room);
        if (length == 0)
            break;
        p += length;
        room -= length;
    }
    return p;
}

// The expansion of the longest line, with its terminator.
constexpr int kLineLimit = 4096;
char expansion[kLineLimit];

// Walks the line with tabs expanded to multiples of width (a width below 1
// counts as 1) and, when buffer is given, stores the expansion there.
// Returns the bytes the expanded line needs with its terminator, or -1 when
// it would reach kLineLimit columns; then nothing beyond the limit is
// stored.
int expand_tabs(int width, const char *line, char *buffer)
{
    width = std::max(width, 1);
    int column = 0;
    for (const char *p = line; *p != '\0'; ++p) {
        int advance = *p == '\t' ? width - column % width : 1;
        if (advance >= kLineLimit - column)
            return -1;
        if (buffer != nullptr)
            std::memset(buffer + column, *p == '\t' ? ' ' : *p, static_cast<size_t>(advance));
        column += advance;
    }
    if (buffer != nullptr)
        buffer[column] = '\0';
    return column + 1;
}

// The two's-complement reading of a 32-bit pattern, without relying on an
// implementation-defined conversion.
int to_signed(unsigned value)
{
    return value <= INT_MAX ? static_cast<int>(value) : -static_cast<int>(~value) - 1;
}

}  // namespace

char *SetParam(const char *src, char *out, int size)
{
    const char *p = sp_skip(src);
    if (size < 1)
        return const_cast<char *>(p);
    char *end = out;
    if (*p == '"') {
        p = take_token(p + 1, end, size, size - 1, [](unsigned char c) { return c == '"' || c == '\0'; });
    } else if (*p == '[') {
        // A byte of the room is kept for the character where scanning
        // stops, which is stored without being passed: the ']' of a closed
        // token, the second zero of an unclosed one.
        p = take_token(p, end, size - 1, size - 2, [](unsigned char c) { return c == ']' || c == '\0'; });
        copy_char(p, end, size - 1 - static_cast<int>(end - out));
    } else {
        p = take_token(p, end, size, size - 1,
                       [](unsigned char c) { return c == '=' || is_blank(c) || c == '\0'; });
    }
    *end = '\0';
    return const_cast<char *>(p);
}

char *sp_skip(const char *s) { return skip_while(s, is_blank); }

char *chr_skip(const char *s)
{
    return skip_while(s, [](unsigned char c) { return !is_blank(c); });
}

char *words_skip(const char *s)
{
    return skip_while(s, [](unsigned char c) { return !is_word(c); });
}

char *words_skip2(const char *s) { return skip_while(s, is_path_word); }

char *optionStr_skip(const char *s)
{
    char *p = sp_skip(s);
    unsigned char quote = byte_at(p);
    if (quote == '"' || quote == '\'') {
        // A redirection inside the quotes ends the string all the same.
        p = skip_while(p + 1, [quote](unsigned char c) { return c != quote && c != '<' && c != '>'; });
        return byte_at(p) == quote ? p + 1 : p;
    }
    return skip_while(p, [](unsigned char c) { return std::strchr(" \t\"'<>;", c) == nullptr; });
}

int isnum(const char *s)
{
    for (; *s != '\n' && !is_blank(byte_at(s)) && *s != '\0'; ++s)
        if (!is_digit(byte_at(s)))
            return 0;
    return 1;
}

int strToInt(const char *s)
{
    // Unsigned arithmetic wraps modulo 2^32 where signed overflow would be
    // undefined.
    unsigned sum = 0;
    bool negative = false;
    while (*s != '\0') {
        if (is_digit(byte_at(s))) {
            unsigned number = 0;
            for (; is_digit(byte_at(s)); ++s)
                number = number * 10 + static_cast<unsigned>(*s - '0');
            sum = negative ? sum - number : sum + number;
        } else if (*s == '+' || *s == '-') {
            negative = *s++ == '-';
        } else {
            return 0;
        }
    }
    return to_signed(sum);
}

int chk_exptab(int width, const char *line) { return expand_tabs(width, line, nullptr); }

char *exp_tab(int width, const char *line)
{
    if (expand_tabs(width, line, expansion) < 0) {
        std::printf("Error: %256.256s ... too long line\n", line);
        std::exit(1);
    }
    return expansion;
}

}  // namespace lumlib
