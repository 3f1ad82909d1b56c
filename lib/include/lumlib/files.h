// File copying and free-space checks.
//
// The figures are those of the place that holds a path. On POSIX systems
// that is the file system of the path itself if it exists, else of its
// nearest existing ancestor; on Windows, the drive that the path names
// ("D:" in "D:\x" or "D:x"), or the current drive for a path without a
// drive prefix. Problems are reported through errmsg; no routine here ends
// the process (only getmem, for the copy buffer, may).
#ifndef LUMLIB_FILES_H
#define LUMLIB_FILES_H

#include <cstdio>

namespace lumlib {

// The free bytes found by the latest getFreeSpace, in full (beyond INT_MAX
// too); -1.0 after a failed query. Initially 0.0.
extern double FreeDiskSpace;

// Bytes per cluster (allocation unit) of the file system that holds path;
// 0 when the query fails or the figure does not fit in an int.
int getClusterSize(const char *path);
// Bytes free for the calling user on the file system that holds path, at
// most INT_MAX; -1 when the query fails. Sets FreeDiskSpace. Reports nothing.
int getFreeSpace(const char *path);

// Copies src to dst through a buffer of dst's cluster size (1024 bytes when
// that is unknown). mode 1 never overwrites an existing dst; any other mode
// does. Returns 1 when the whole file was copied and dst closed cleanly,
// else 0. The source is opened first: when it cannot be opened, or names
// the same file as dst, dst is left untouched. Write failures report
// "<dst>: writing error\n", a read error "<src>: reading error\n"; dst is
// never removed, so a failed copy may leave it partial.
int copyFile(const char *src, const char *dst, int mode);
// Closes a stream written to path. Returns the close's nonzero result when
// it fails; -1, after "%c drive: no free disk space\n" (path with a drive
// prefix "X:") or "no free disk space\n", when path's file system has no
// free byte left or cannot be asked; 0 otherwise.
int Fclose(FILE *fp, const char *path);
// 1 when path names an existing directory, else 0.
int isDir(const char *path);

}  // namespace lumlib

#endif
