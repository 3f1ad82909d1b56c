// The character classes of the C locale, for the library's parsers and
// comparisons: bytes with the high bit set belong to none of them, whatever
// locale the calling program has chosen.
#ifndef LUMLIB_ASCII_H
#define LUMLIB_ASCII_H

namespace lumlib::ascii {

inline bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }
inline bool is_upper(unsigned char c) { return c >= 'A' && c <= 'Z'; }
inline bool is_lower(unsigned char c) { return c >= 'a' && c <= 'z'; }
inline bool is_letter(unsigned char c) { return is_upper(c) || is_lower(c); }
inline bool is_alnum(unsigned char c) { return is_letter(c) || is_digit(c); }
// Blank and tab: what separates fields on a line.
inline bool is_blank(unsigned char c) { return c == ' ' || c == '\t'; }

}  // namespace lumlib::ascii

#endif
