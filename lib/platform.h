// What the file helpers ask of the operating system, and nothing more. Each
// system has one implementation beside the helpers (platform_posix.cpp,
// platform_win32.cpp); a test may link a double in its place.
#ifndef LUMLIB_PLATFORM_H
#define LUMLIB_PLATFORM_H

#include <cstdint>
#include <cstdio>
#include <optional>

namespace lumlib::platform {

// Bytes free for the calling user on the file system that holds path;
// empty when the system cannot tell.
std::optional<double> free_bytes(const char *path);

// The allocation unit (cluster) of the file system that holds path, in
// bytes; empty when the system cannot tell.
std::optional<std::uint64_t> cluster_size(const char *path);

// Whether path names an existing directory.
bool is_directory(const char *path);

// Whether path names the very file that stream has open (links included).
bool same_file(std::FILE *stream, const char *path);

// A new file at path, open for writing in binary mode; null when path
// exists already or cannot be created. No other file can take the name
// between the check and the creation.
std::FILE *create_new(const char *path);

}  // namespace lumlib::platform

#endif
