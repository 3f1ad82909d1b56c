// The operating-system side of converting a file in place: opening a named
// regular file for update (granting write permission when that is what
// stands in the way) and positioned reads and writes that report exactly
// how much went through. One implementation per system, chosen by CMake.
#ifndef LUMTAR_FILE_IO_H
#define LUMTAR_FILE_IO_H

#include <cstddef>
#include <cstdint>

namespace lumtar {

enum class OpenResult {
    opened,
    not_regular,        // a directory, device, pipe or pseudo-file: never written
    cannot_grant_write, // not opened, and write permission could not be added
    cannot_open,        // not opened even with write permission added
};

// Outcome of a transfer: the bytes that went through, and the error that
// stopped it (0 when the whole request went through or the file ended).
struct Transfer {
    std::size_t count = 0;
    int error = 0;
};

// Errors of the way out: each 0, or the system's error number.
struct CloseResult {
    int mode_error = 0;   // the permissions could not be put back
    int close_error = 0;  // closing failed: written data may be lost
};

class InPlaceFile {
public:
    InPlaceFile() = default;
    ~InPlaceFile();
    InPlaceFile(const InPlaceFile &) = delete;
    InPlaceFile &operator=(const InPlaceFile &) = delete;

    // Opens path for reading and writing without ever blocking. When only
    // the permissions stand in the way, grants write permission; the
    // original permissions come back on close, also after a failure.
    OpenResult open(const char *path);

    // Reads until n bytes or the end of the file.
    Transfer read_at(unsigned char *buf, std::size_t n, std::uint64_t offset);
    // Writes all n bytes unless an error stops it.
    Transfer write_at(const unsigned char *buf, std::size_t n, std::uint64_t offset);

    // Puts the permissions back and closes. A file that was written loses
    // its set-user-ID and set-group-ID bits: it is no longer the program
    // that was trusted.
    CloseResult close();

private:
    std::intptr_t handle_ = -1;  // the system's handle of the open file
    bool permissions_changed_ = false;
    bool written_ = false;
    std::uint32_t original_permissions_ = 0;
};

}  // namespace lumtar

#endif
