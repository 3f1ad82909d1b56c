// How Windows names the drive that holds a path and counts its free bytes,
// as text and arithmetic alone: the Windows platform layer uses them, and
// every build can test them.
#ifndef LUMLIB_DRIVES_H
#define LUMLIB_DRIVES_H

#include <cstdint>
#include <string>

namespace lumlib::platform {

// The root of the drive that holds path: its first two characters and a
// backslash when the second is ':' ("D:work" gives "D:\"), else a single
// backslash, the root of the current drive (relative paths, paths from the
// root, network paths, the empty path).
std::string drive_root(const char *path);

// clusters × sectors_per_cluster × bytes_per_sector, exact (the product
// takes up to 96 bits) until it is rounded, once, to a double.
double cluster_bytes(std::uint32_t clusters, std::uint32_t sectors_per_cluster, std::uint32_t bytes_per_sector);

}  // namespace lumlib::platform

#endif
