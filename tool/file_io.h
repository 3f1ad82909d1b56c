// The operating-system side of converting a file in place: opening a named
// regular file for update (granting the owner write permission when that is
// what stands in the way) and positioned reads and writes that report
// exactly how much went through.
#ifndef LUMTAR_FILE_IO_H
#define LUMTAR_FILE_IO_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace lumtar {

enum class OpenResult {
    opened,
    not_regular,        // a directory, FIFO, socket or device: never opened
    cannot_grant_write, // not opened, and write permission could not be added
    cannot_open,        // not opened even with write permission added
};

// Outcome of a transfer: the bytes that went through, and the error that
// stopped it (0 when the whole request went through or the file ended).
struct Transfer {
    std::size_t count = 0;
    int error = 0;
};

class InPlaceFile {
public:
    InPlaceFile() = default;
    ~InPlaceFile();
    InPlaceFile(const InPlaceFile &) = delete;
    InPlaceFile &operator=(const InPlaceFile &) = delete;

    // Opens path for reading and writing without ever blocking. When only
    // the permissions stand in the way, adds the owner's write permission;
    // the exact original mode comes back on close, also after a failure.
    OpenResult open(const char *path);

    // Reads until n bytes or the end of the file.
    Transfer read_at(unsigned char *buf, std::size_t n, std::uint64_t offset);
    // Writes all n bytes unless an error stops it.
    Transfer write_at(const unsigned char *buf, std::size_t n, std::uint64_t offset);

    // Puts the mode back if open changed it and closes; returns 0 or the
    // error of the close.
    int close();

private:
    int fd_ = -1;
    bool mode_changed_ = false;
    mode_t original_mode_ = 0;
};

}  // namespace lumtar

#endif
