// Diagnostic messages.
//
// The routines take a printf-like format but edit it with the library's own
// small formatter: %c, %d, %x, %f and %s are conversions (no flags, widths
// or length modifiers); any other byte after '%' is kept with the '%'; a
// backslash makes the next byte literal. A format without '%' (searched
// two-byte-aware) is written as it stands. The edited text lives in one
// process-wide buffer of 1024 bytes plus headroom, overwritten by every
// edit. None of the routines is reentrant.
#ifndef LUMLIB_MESSAGES_H
#define LUMLIB_MESSAGES_H

#include <cstdarg>
#include <cstdio>

namespace lumlib {

// Where errmsg and errmsg1 write: null is the standard error stream, the
// marker (FILE *)-1 standard output; any other stream is errmsg1's target.
extern FILE *errfp;
// Set to 1 by errmsg after each message; the library never clears it.
extern int errmsg_output_flg;
// Nonzero switches the message log "message.log" on.
extern int errmsgWrite_flg;

// Writes the message to standard output if errfp is the marker, otherwise
// to the standard error stream, and sets errmsg_output_flg.
void errmsg(const char *format, ...);
// Writes the message to standard output if errfp is the marker, to errfp if
// it is set, otherwise to the standard error stream.
void errmsg1(const char *format, ...);
// While errmsgWrite_flg is set, appends the message and a line feed to
// "message.log" in the current directory (created anew, emptied, on the
// first message after start or after "end"). Returns 10 after a successful
// write, -1 when the log cannot be opened (the message is dropped; the next
// call tries again) or written, 0 while logging is off. The format "end"
// closes the log: 0 on success, -1 on a failed close or no open log.
int errmsgf(const char *format, ...);
// Edits the format with the arguments into the message buffer and returns
// it. A %s that would carry the text past 1024 bytes is cut so that the
// text ends at byte 768 (nothing more is kept once the text is past 768);
// format bytes left at 1024 bytes are dropped.
char *err_edit(const char *format, va_list args);

}  // namespace lumlib

#endif
