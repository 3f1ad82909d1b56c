#include <cstring>

#include "ascii.h"
#include "lumlib/strings.h"
#include "sjis.h"

namespace lumlib {

namespace {

// Copies a string with its terminator; the buffers may overlap, so a caller
// may name the path itself as one of sepname's outputs.
void move_string(char *dst, const char *src) { std::memmove(dst, src, std::strlen(src) + 1); }

}  // namespace

// The full stop cannot be a code page 932 second byte, so the byte search
// from the end of the last component is safe; only the separator search has
// to step over two-byte characters.
char *findExt(const char *path)
{
    const char *sep = Strrchr(path, '\\');
    return lumlib::rindex(sep != nullptr ? sep + 1 : path, '.');
}

int sepname(char *path, char *head, char *rest)
{
    const char *rest_start = "";
    if (char *sep = Strchr(path + std::strcspn(path, "*?"), '\\')) {
        *sep = '\0';
        rest_start = sep + 1;
    }
    move_string(head, path);
    move_string(rest, rest_start);
    return 0;
}

int cutQuoteChar(char *s)
{
    if (*s != '"')
        return 0;
    size_t len = std::strlen(s) - 1;  // without the leading quote
    std::memmove(s, s + 1, len + 1);
    if (len > 0 && s[len - 1] == '"')
        s[len - 1] = '\0';
    return 0;
}

// The length is decided after the replacement, so a byte turned into a lead
// byte takes its neighbour with it. A zero replacement ends the visible
// string early; the walk still stops at the original terminator.
char *ChgChr(char *s, int from, int to)
{
    const auto old_byte = static_cast<unsigned char>(from);
    for (char *p = s; *p != '\0'; p += sjis::char_len(p))
        if (sjis::byte_at(p) == old_byte)
            *p = static_cast<char>(to);
    return s;
}

// Copies from the last byte down, so a destination above an overlapping
// source gets an exact copy. A negative count copies nothing.
int bakmov(const void *src, void *dst, int count)
{
    const auto *from = static_cast<const unsigned char *>(src);
    auto *to = static_cast<unsigned char *>(dst);
    while (count > 0) {
        --count;
        to[count] = from[count];
    }
    return 0;
}

// Copies from the first byte up, one at a time: a destination above an
// overlapping source repeats the leading bytes, which callers may rely on.
int bcopy(void *dst, const void *src, int count)
{
    const auto *from = static_cast<const unsigned char *>(src);
    auto *to = static_cast<unsigned char *>(dst);
    for (int i = 0; i < count; ++i)
        to[i] = from[i];
    return 0;
}

int insChar(char *s, int c)
{
    std::memmove(s + 1, s, std::strlen(s) + 1);
    *s = static_cast<char>(c);
    return 0;
}

void clear(void *dst, int c, int count)
{
    if (count > 0)
        std::memset(dst, c, static_cast<size_t>(count));
}

int cutBackSpace(char *s)
{
    for (char *end = s + std::strlen(s); end != s && ascii::is_blank(static_cast<unsigned char>(end[-1]));)
        *--end = '\0';
    return 0;
}

}  // namespace lumlib
