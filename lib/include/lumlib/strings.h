// Byte-string routines that respect two-byte Shift-JIS characters.
//
// Strings are zero-terminated; bytes compare as unsigned values. A character
// argument is an int of which only the low 8 bits count. Pointer results
// point into the first argument, as the C library's strchr does; the caller
// may write through them when the argument is writable. The library's
// index, rindex, bcopy and strcasecmp live in namespace lumlib and never
// clash with the C library's routines of the same names.
#ifndef LUMLIB_STRINGS_H
#define LUMLIB_STRINGS_H

namespace lumlib {

// ---- Search and scanning -------------------------------------------------
//
// The two-byte-aware walks step over a lead byte (0x81-0x9F, 0xE0-0xFC) and
// the byte after it unless that is the terminator; serstr demands a code
// page 932 trail byte instead, and charcode_endpos treats every byte from
// 0x80 up except half-width katakana (0xA1-0xDF) as a lead byte. No routine
// reads past the terminator, and none finds it: a search byte or pattern
// of zero finds nothing.

// First character start (second bytes never) equal to c; null if none.
char *Strchr(const char *s, int c);
// Last character start equal to c; null if none.
char *Strrchr(const char *s, int c);
// First code page 932 character start where s continues with the whole
// pattern (compared byte by byte); null if none or the pattern is empty.
char *serstr(const char *s, const char *pattern);
// First byte equal to c, every byte examined; null if none.
char *index(const char *s, int c);
// Last byte equal to c, every byte examined; null if none.
char *rindex(const char *s, int c);
// First byte position where s continues with pattern. An empty pattern
// matches at the start of a non-empty string; an empty s gives null.
char *index1(const char *s, const char *pattern);
// First one-byte character that occurs in set; null if none.
char *index2(const char *s, const char *set);
// Writes one flag per byte before the terminator: 0 one-byte character,
// 1 and 2 first and second byte of a two-byte character. Returns 0.
int set_kanji_flg(const char *s, char *flags);
// End of the longest run of whole characters from the start that is at most
// limit bytes long: the terminator if all fit, s if none does.
char *charcode_endpos(const char *s, int limit);
// Start of the last character that begins before pos (which may lie beyond
// the terminator); null if pos is at or before s, or s is empty.
char *get_prech(const char *s, const char *pos);

// ---- Editing -------------------------------------------------------------
//
// Paths separate components with the backslash only. The editing routines
// change their argument in place and return 0 unless said otherwise.

// The last full stop of the last path component; null if it has none.
char *findExt(const char *path);
// Cuts the path after the first component holding '*' or '?' (at the
// backslash that ends it) and copies that head and the rest after the
// backslash to head and rest, each with room for the path. Without such a
// backslash the head is the whole path and the rest empty.
int sepname(char *path, char *head, char *rest);
// Removes a leading double quote, and then a trailing one if present.
int cutQuoteChar(char *s);
// Replaces byte from with to at every character start, deciding each
// character's length after the replacement. Returns s.
char *ChgChr(char *s, int from, int to);
// Copies count bytes starting with the last (exact for a destination above
// an overlapping source). A count of zero or less copies nothing.
int bakmov(const void *src, void *dst, int count);
// Destination first: copies count bytes starting with the first, one at a
// time (a destination above an overlapping source repeats the leading
// bytes). A count of zero or less copies nothing.
int bcopy(void *dst, const void *src, int count);
// Inserts c before the first byte; s needs room for two more bytes than
// its length.
int insChar(char *s, int c);
// Stores c into count bytes; a count of zero or less stores nothing.
void clear(void *dst, int c, int count);
// Overwrites trailing spaces and tabs with zero bytes.
int cutBackSpace(char *s);

// ---- Comparison, case folding and wildcards ------------------------------
//
// The collation: ASCII case is ignored, the backslash sorts before every
// other character, and ASCII sorts before half-width katakana (0xA1-0xDF),
// which sorts before two-byte characters (every other byte from 0x80 up
// opens one; its second byte compares by raw value). A string sorts before
// any longer string it is a prefix of. The comparisons return -1, 0 or 1.

// At most n bytes are compared, but a two-byte character whose first byte
// is within the limit is compared whole; n < 0 means no limit, n == 0
// gives 0.
int StrnCmp(const char *s1, const char *s2, int n);
int StrCmp(const char *s1, const char *s2);
// StrCmp with the separator that precedes the final run of letters and
// digits (the '.' before an extension) sorting before every character but
// the backslash. Both strings are changed while it runs and restored.
int StrCmp2(char *s1, char *s2, int sep);
// 0 when the paths are equal under the collation apart from one trailing
// backslash each (a two-byte character ending in 0x5C is not one);
// otherwise 1 for paths of different lengths, else -1 or 1 by the
// collation.
int DirCmp(const char *p1, const char *p2);
// A qsort comparator over an array of pointers to records whose first
// member is the path: fewer backslashes first, then StrCmp.
int comp_file(const void *e1, const void *e2);
// 1 if the low bytes are equal ignoring ASCII case, else 0.
int cmp_ascii_ignUL(int c1, int c2);
// The first '*' or '?' of s, or null.
char *srch_wild(const char *s);
// Change ASCII letters in place, sparing the second bytes of two-byte
// characters; both return 0.
int to_upper(char *s);
int to_lower(char *s);
// Compares lowered copies of at most the first 1023 bytes of each text and
// returns the first differing byte of s1's copy minus that of s2's (-255 to
// 255), or 0. No special place for the backslash or for katakana.
int strcasecmp(const char *s1, const char *s2);

// ---- Tokens and parameters -----------------------------------------------
//
// Pointer results point into the text given. Only SetParam knows two-byte
// characters; the other routines look at single bytes.

// Takes one token after leading blanks and tabs into out: a quoted token
// without its quotes (the result points at the closing quote), a bracketed
// token with its '[' and ']' (the result points at the ']', the last byte
// stored), or a bare token that ends at '=', blank or tab (the result
// points at that byte). A long token is cut: at most size - 1 characters
// in the quoted and bare forms; in the bracketed form size - 2 and the
// character where scanning stopped, stored but not passed. out is never
// written beyond size bytes, zero included: a two-byte character that does
// not fit whole is left out (the result points at it). A size below 1
// leaves out untouched.
char *SetParam(const char *src, char *out, int size);
// The first byte that is neither blank nor tab.
char *sp_skip(const char *s);
// The first blank or tab, or the terminator.
char *chr_skip(const char *s);
// The first letter, digit, '-', '_' or '.', or the terminator.
char *words_skip(const char *s);
// The first byte that is not a letter, digit, '-', '_', '.', '/', '\' or ':'.
char *words_skip2(const char *s);
// The byte after one option string, past leading blanks: a string quoted
// with '"' or '\'' (closing quote included; '<' or '>' ends it early), or a
// run of bytes up to a blank, tab, quote, '<', '>' or ';'.
char *optionStr_skip(const char *s);
// 1 if the field up to the first blank, tab, newline or terminator holds
// only digits (an empty field counts), else 0.
int isnum(const char *s);
// The sum of signed decimal numbers such as "10-3+2", wrapping modulo 2^32;
// 0 for a text with any byte other than digits, '+' and '-'.
int strToInt(const char *s);
// The bytes that line needs with its terminator when tabs are expanded to
// the next multiple of width (1 to 4096), or -1 when the expansion would
// reach 4096 columns. A width below 1 counts as 1: every tab becomes one
// blank.
int chk_exptab(int width, const char *line);
// Expands line as chk_exptab measures it into a static buffer that the next
// call overwrites. A line chk_exptab rejects ends the process: the message
// goes to standard output and the exit status is 1.
char *exp_tab(int width, const char *line);

}  // namespace lumlib

#endif
