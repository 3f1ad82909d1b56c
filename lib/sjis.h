// Character boundaries of Shift-JIS text: the library's three rules, each
// decided here once. Every routine that steps through two-byte text asks
// these helpers instead of testing byte ranges itself.
#ifndef LUMLIB_SJIS_H
#define LUMLIB_SJIS_H

namespace lumlib::sjis {

inline unsigned char byte_at(const char *p) { return static_cast<unsigned char>(*p); }

// 0x81-0x9F and 0xE0-0xFC open a two-byte character.
inline bool is_lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// The trail-byte set of code page 932.
inline bool is_cp932_trail(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }

// 0xA1-0xDF: one-byte half-width katakana.
inline bool is_katakana(unsigned char c) { return c >= 0xA1 && c <= 0xDF; }

// Shared rule: a lead byte takes the next byte with it unless that is the
// terminator, so a walk never steps over the end of the string.
inline int char_len(const char *p) { return is_lead(byte_at(p)) && p[1] != '\0' ? 2 : 1; }

// Code page 932 rule: the next byte must be a valid trail byte.
inline int cp932_char_len(const char *p) { return is_lead(byte_at(p)) && is_cp932_trail(byte_at(p + 1)) ? 2 : 1; }

// Katakana split: every byte with the high bit set that is not half-width
// katakana opens a two-byte character (0x80, 0xA0 and 0xFD-0xFF included).
inline int split_char_len(const char *p)
{
    unsigned char c = byte_at(p);
    return c >= 0x80 && !is_katakana(c) && p[1] != '\0' ? 2 : 1;
}

}  // namespace lumlib::sjis

#endif
