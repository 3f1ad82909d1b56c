#include <cstring>

#include "lumlib/strings.h"
#include "sjis.h"

namespace lumlib {

namespace {

// A plain byte walk: every byte is a character of its own.
int one_byte(const char *) { return 1; }

// The first character start, stepping by `step`, at which `match` holds.
// The walk ends at the terminator, which is never offered to `match`.
template <class Step, class Match>
char *first_where(const char *s, Step step, Match match)
{
    for (const char *p = s; *p != '\0'; p += step(p))
        if (match(p))
            return const_cast<char *>(p);
    return nullptr;
}

// A matcher for the character whose first byte is the low 8 bits of c.
// Zero never matches, as walks stop before the terminator.
auto byte_is(int c)
{
    return [want = static_cast<unsigned char>(c)](const char *p) { return sjis::byte_at(p) == want; };
}

// A matcher for the places where the text continues with the whole
// (non-empty) pattern; strncmp stops at the text's terminator, so a pattern
// longer than the rest of the text never matches and nothing past it is read.
auto continues_with(const char *pattern)
{
    return [pattern, n = std::strlen(pattern)](const char *p) { return std::strncmp(p, pattern, n) == 0; };
}

}  // namespace

char *Strchr(const char *s, int c) { return first_where(s, sjis::char_len, byte_is(c)); }

char *Strrchr(const char *s, int c)
{
    auto match = byte_is(c);
    const char *last = nullptr;
    for (const char *p = s; *p != '\0'; p += sjis::char_len(p))
        if (match(p))
            last = p;
    return const_cast<char *>(last);
}

// Starts only on code page 932 character boundaries, but compares bytes, so
// a pattern ending in a lead byte may match the first half of a character.
char *serstr(const char *s, const char *pattern)
{
    if (*pattern == '\0')
        return nullptr;
    return first_where(s, sjis::cp932_char_len, continues_with(pattern));
}

char *index(const char *s, int c) { return first_where(s, one_byte, byte_is(c)); }

char *rindex(const char *s, int c)
{
    auto match = byte_is(c);
    for (const char *p = s + std::strlen(s); p != s;)
        if (match(--p))
            return const_cast<char *>(p);
    return nullptr;
}

char *index1(const char *s, const char *pattern) { return first_where(s, one_byte, continues_with(pattern)); }

// Only one-byte characters take part; both bytes of a two-byte character
// are stepped over. The byte compared is never zero, so the set's own
// terminator cannot match.
char *index2(const char *s, const char *set)
{
    return first_where(s, sjis::char_len,
                       [set](const char *p) { return sjis::char_len(p) == 1 && std::strchr(set, *p) != nullptr; });
}

int set_kanji_flg(const char *s, char *flags)
{
    for (const char *p = s; *p != '\0'; p += sjis::char_len(p)) {
        if (sjis::char_len(p) == 2) {
            *flags++ = 1;
            *flags++ = 2;
        } else {
            *flags++ = 0;
        }
    }
    return 0;
}

// The length so far is the distance from the start, so a limit near the
// largest int cannot overflow a running count.
char *charcode_endpos(const char *s, int limit)
{
    const char *cut = s;
    for (const char *p = s; *p != '\0';) {
        p += sjis::split_char_len(p);
        if (p - s > limit)
            break;
        cut = p;
    }
    return const_cast<char *>(cut);
}

// A second byte cannot be told from a character start by looking back, so
// the walk goes forward from the start.
char *get_prech(const char *s, const char *pos)
{
    const char *prev = nullptr;
    for (const char *p = s; p < pos && *p != '\0'; p += sjis::char_len(p))
        prev = p;
    return const_cast<char *>(prev);
}

}  // namespace lumlib
