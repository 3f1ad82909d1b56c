#include "lumlib/strings.h"

#include <cstring>

#include "ascii.h"
#include "sjis.h"

namespace lumlib {

namespace {

using sjis::byte_at;

using ascii::is_alnum;
using ascii::is_lower;
using ascii::is_upper;

unsigned char fold_lower(unsigned char c) { return is_upper(c) ? c + ('a' - 'A') : c; }
unsigned char fold_upper(unsigned char c) { return is_lower(c) ? c - ('a' - 'A') : c; }

int sign_of(int difference) { return (difference > 0) - (difference < 0); }

// The collation's kinds of character, in their sort order. The split is
// the fixed katakana split, whatever the system's code page.
enum class Kind { ascii, katakana, two_byte };

Kind kind_of(unsigned char c)
{
    if (sjis::is_katakana(c))
        return Kind::katakana;
    return c < 0x80 ? Kind::ascii : Kind::two_byte;
}

// Case-blind, with the backslash ahead of every other byte so that a
// directory sorts before its neighbours that merely share its prefix.
int compare_ascii(unsigned char a, unsigned char b)
{
    a = fold_lower(a);
    b = fold_lower(b);
    if (a == b)
        return 0;
    if (a == '\\')
        return -1;
    if (b == '\\')
        return 1;
    return sign_of(a - b);
}

// The separator before a final run of letters and digits (the '.' before
// an extension), or null when the run is not preceded by sep.
char *final_separator(char *s, unsigned char sep)
{
    for (char *p = s + std::strlen(s); p != s;) {
        unsigned char c = byte_at(--p);
        if (c == sep)
            return p;
        if (!is_alnum(c))
            return nullptr;
    }
    return nullptr;
}

void put_mark(char *place, char mark)
{
    if (place != nullptr)
        *place = mark;
}

// Length of a directory path without one trailing backslash. The last
// character is found by the split StrnCmp walks by, so the second byte of
// a two-byte character (0x5C in many kanji) is never taken for one.
int dir_length(const char *path)
{
    const char *last = path;
    const char *end = path;
    for (; *end != '\0'; end += sjis::split_char_len(end))
        last = end;
    int length = static_cast<int>(end - path);
    return *last == '\\' ? length - 1 : length;
}

int backslash_count(const char *path)
{
    int count = 0;
    for (const char *p = path; *p != '\0'; p += sjis::char_len(p))
        count += *p == '\\';
    return count;
}

// An element of comp_file's array points to a record whose first member
// points to the path.
const char *record_path(const void *element)
{
    const void *record = *static_cast<const void *const *>(element);
    return *static_cast<const char *const *>(record);
}

template <class Change>
int change_case(char *s, Change change)
{
    for (char *p = s; *p != '\0'; p += sjis::split_char_len(p))
        *p = static_cast<char>(change(byte_at(p)));
    return 0;
}

constexpr int kCaseCopy = 1024;

void lowered_copy(char (&copy)[kCaseCopy], const char *s)
{
    size_t n = strnlen(s, kCaseCopy - 1);
    std::memcpy(copy, s, n);
    copy[n] = '\0';
    to_lower(copy);
}

}  // namespace

int StrnCmp(const char *s1, const char *s2, int n)
{
    // A negative limit never reaches zero: no limit.
    auto count_byte = [&n] {
        if (n > 0)
            --n;
    };
    while (n != 0 && *s1 != '\0' && *s2 != '\0') {
        unsigned char a = byte_at(s1);
        unsigned char b = byte_at(s2);
        Kind kind = kind_of(a);
        if (kind != kind_of(b))
            return kind < kind_of(b) ? -1 : 1;
        if (kind == Kind::ascii) {
            if (int order = compare_ascii(a, b))
                return order;
        } else if (a != b) {
            return sign_of(a - b);
        } else if (kind == Kind::two_byte) {
            // A character that starts within the limit is compared whole;
            // its second byte may be the terminator, which sorts first.
            ++s1, ++s2;
            count_byte();
            a = byte_at(s1);
            b = byte_at(s2);
            if (a != b)
                return sign_of(a - b);
            if (a == '\0')
                return 0;
        }
        ++s1, ++s2;
        count_byte();
    }
    if (n == 0)
        return 0;
    return *s1 != '\0' ? 1 : *s2 != '\0' ? -1 : 0;
}

int StrCmp(const char *s1, const char *s2) { return StrnCmp(s1, s2, -1); }

int StrCmp2(char *s1, char *s2, int sep)
{
    // Both places are found before either is marked, so that overlapping
    // arguments are each judged on their own text.
    unsigned char separator = static_cast<unsigned char>(sep);
    char *mark1 = final_separator(s1, separator);
    char *mark2 = final_separator(s2, separator);
    put_mark(mark1, '\x01');
    put_mark(mark2, '\x01');
    int order = StrCmp(s1, s2);
    put_mark(mark1, static_cast<char>(separator));
    put_mark(mark2, static_cast<char>(separator));
    return order;
}

int DirCmp(const char *p1, const char *p2)
{
    int length = dir_length(p1);
    if (length != dir_length(p2))
        return 1;
    return StrnCmp(p1, p2, length);
}

int comp_file(const void *e1, const void *e2)
{
    const char *t1 = record_path(e1);
    const char *t2 = record_path(e2);
    int depth1 = backslash_count(t1);
    int depth2 = backslash_count(t2);
    if (depth1 != depth2)
        return depth1 < depth2 ? -1 : 1;
    return StrCmp(t1, t2);
}

int cmp_ascii_ignUL(int c1, int c2)
{
    return fold_upper(static_cast<unsigned char>(c1)) == fold_upper(static_cast<unsigned char>(c2));
}

char *srch_wild(const char *s) { return const_cast<char *>(std::strpbrk(s, "*?")); }

int to_upper(char *s) { return change_case(s, fold_upper); }

int to_lower(char *s) { return change_case(s, fold_lower); }

int strcasecmp(const char *s1, const char *s2)
{
    char copy1[kCaseCopy];
    char copy2[kCaseCopy];
    lowered_copy(copy1, s1);
    lowered_copy(copy2, s2);
    const unsigned char *a = reinterpret_cast<const unsigned char *>(copy1);
    const unsigned char *b = reinterpret_cast<const unsigned char *>(copy2);
    while (*a == *b && *a != '\0')
        ++a, ++b;
    return *a - *b;
}

}  // namespace lumlib
