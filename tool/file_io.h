// The operating-system side of converting a file in place: examining a
// named regular file and locking it, opening that same file for update
// (granting write permission when that is what stands in the way) and
// positioned reads and writes that report exactly how much went through.
// One implementation per system, chosen by CMake.
#ifndef LUMTAR_FILE_IO_H
#define LUMTAR_FILE_IO_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace lumtar {

enum class OpenResult {
    opened,
    not_regular,        // a directory, device, pipe or pseudo-file: never written
    cannot_grant_write, // not opened, and write permission could not be added
    cannot_open,        // not opened even with write permission added
    in_use,             // another program holds it locked: never written
    name_too_long,      // longer than the system takes
};

// What a file is, whatever name reached it: the same for every link.
struct FileId {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const FileId &other) const { return volume == other.volume && index == other.index; }
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
    int setid_error = 0;  // the set-user-ID and set-group-ID bits could not be cleared
    int close_error = 0;  // closing failed: written data may be lost
    std::uint32_t permissions = 0;  // the permissions the file has now, when one of the above failed
};

class InPlaceFile {
public:
    InPlaceFile() = default;
    ~InPlaceFile();
    InPlaceFile(const InPlaceFile &) = delete;
    InPlaceFile &operator=(const InPlaceFile &) = delete;

    // Opens path without changing anything and without ever blocking, and
    // takes an exclusive lock on it that close() gives up. Not opened:
    // anything but a regular file, or a file that another program holds.
    OpenResult examine(const char *path);
    // The identity of the examined file.
    FileId id() const;
    // Opens the examined file, and no other that has come under its name
    // since, for reading and writing. When only the permissions stand in
    // the way, grants write permission; the original permissions come back
    // on close, also after a failure.
    OpenResult open_for_update();

    // The size of the file, through the examined file until it is open for
    // update; 0 when it cannot be had.
    std::uint64_t size() const;

    // Reads until n bytes or the end of the file: through the examined file
    // until it is open for update.
    Transfer read_at(unsigned char *buf, std::size_t n, std::uint64_t offset);
    // Writes all n bytes unless an error stops it, or the file now ends
    // before them (another program cut it): then only the bytes within it,
    // so that a cut file never grows back.
    Transfer write_at(const unsigned char *buf, std::size_t n, std::uint64_t offset);

    // Whether the system keeps a record of an unfinished conversion with a
    // file, where its file system can.
    static bool keeps_records();
    // The record of an unfinished conversion that the file carries, read
    // through the examined file; empty when it has none.
    std::string record() const;
    // Saves the record, or removes it, through the file open for update:
    // 0, or the system's error number (ENOTSUP where the file system keeps
    // none).
    int save_record(const std::string &record);
    int remove_record();
    // Waits until what was written and the record are on the disk: 0, or
    // the system's error number.
    int sync();
    // The same for every file on the file system that holds this one, so
    // that one call serves a group of files.
    int sync_file_system();

    // Puts the permissions back and closes. A file that was written (that
    // took at least one byte) loses its set-user-ID and set-group-ID bits:
    // it is no longer the program that was trusted. A mode changes only
    // where it must.
    CloseResult close();

private:
    std::intptr_t examined_ = -1;  // the system's handle of the examined file, which holds the lock
    std::intptr_t handle_ = -1;    // the system's handle of the same file, open for update
    std::string path_;
    bool permissions_changed_ = false;
    bool written_ = false;
    std::uint32_t original_permissions_ = 0;
};

}  // namespace lumtar

#endif
