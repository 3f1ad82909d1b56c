#include "file_io.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace lumtar {
namespace {

constexpr unsigned long kConfigFsMagic = 0x62656570;  // not in the kernel's headers

// An extended attribute in the user's namespace: anyone who may write the
// file may keep it there, and it goes wherever the file is moved.
constexpr char kRecordName[] = "user.lumtar.unfinished";

// The kernel's own files: settings, not data. Several of them call
// themselves regular files and take any write.
bool is_pseudo_file_system(const struct statfs &fs)
{
    switch (static_cast<unsigned long>(fs.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case SECURITYFS_MAGIC:
    case kConfigFsMagic:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case TRACEFS_MAGIC:
    case EFIVARFS_MAGIC:
        return true;
    default:
        return false;
    }
}

// Looked at by name before anything is opened, so that no FIFO or device
// is ever opened, and again on the open file, which is what gets written.
bool is_plain_file(const char *path)
{
    struct stat st;
    struct statfs fs;
    return ::stat(path, &st) != 0 ||
           (S_ISREG(st.st_mode) && ::statfs(path, &fs) == 0 && !is_pseudo_file_system(fs));
}

bool is_plain_file(int fd, struct stat &st)
{
    struct statfs fs;
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::fstatfs(fd, &fs) == 0 && !is_pseudo_file_system(fs);
}

// O_NONBLOCK keeps a FIFO or device that appears under the name between
// the check and the open from hanging the tool.
int open_file(const char *path, int access)
{
    return ::open(path, access | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

// Opened through the examined descriptor, the name reaches that file and
// no other, not even for an instant; where /proc is missing, the name is
// opened itself, and the caller keeps only the examined file.
int reopen_for_update(int examined, const char *path)
{
    std::string self = "/proc/self/fd/" + std::to_string(examined);
    int fd = open_file(self.c_str(), O_RDWR);
    return fd < 0 && errno == ENOENT ? open_file(path, O_RDWR) : fd;
}

bool same_file(int fd, const struct stat &examined)
{
    struct stat st;
    return ::fstat(fd, &st) == 0 && st.st_dev == examined.st_dev && st.st_ino == examined.st_ino;
}

// A file that cannot even be read is not changed: its mode is reported as
// the obstacle when it is not the caller's to change.
OpenResult unreadable(const char *path)
{
    struct stat st;
    bool owns = ::stat(path, &st) == 0 && (st.st_uid == ::geteuid() || ::geteuid() == 0);
    return owns ? OpenResult::cannot_open : OpenResult::cannot_grant_write;
}

// What is left of n bytes at offset in a file that may have been cut.
std::size_t within_file(int fd, std::size_t n, std::uint64_t offset)
{
    struct stat st;
    if (::fstat(fd, &st) != 0 || static_cast<std::uint64_t>(st.st_size) >= offset + n)
        return n;
    return static_cast<std::uint64_t>(st.st_size) > offset ? static_cast<std::size_t>(st.st_size - offset) : 0;
}

}  // namespace

InPlaceFile::~InPlaceFile()
{
    close();
}

OpenResult InPlaceFile::examine(const char *path)
{
    if (!is_plain_file(path))
        return OpenResult::not_regular;
    int fd = open_file(path, O_RDONLY);
    if (fd < 0)
        return errno == ENAMETOOLONG ? OpenResult::name_too_long : unreadable(path);
    examined_ = fd;
    path_ = path;
    struct stat st;
    if (!is_plain_file(fd, st)) {
        close();
        return OpenResult::not_regular;
    }
    original_permissions_ = st.st_mode & 07777;
    // Where the file system has no locks, the file is converted unlocked.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        close();
        return OpenResult::in_use;
    }
    return OpenResult::opened;
}

FileId InPlaceFile::id() const
{
    struct stat st {};
    ::fstat(static_cast<int>(examined_), &st);
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// The examined descriptor, which pins the file, is what every check and
// mode change goes through, so a name swapped meanwhile changes nothing.
OpenResult InPlaceFile::open_for_update()
{
    int examined = static_cast<int>(examined_);
    struct stat st;
    if (::fstat(examined, &st) != 0)
        return OpenResult::cannot_open;
    int fd = reopen_for_update(examined, path_.c_str());
    if (fd < 0 && !(st.st_mode & S_IWUSR)) {
        if (::fchmod(examined, original_permissions_ | S_IWUSR) != 0)
            return OpenResult::cannot_grant_write;
        permissions_changed_ = true;
        fd = reopen_for_update(examined, path_.c_str());
    } else if (fd < 0 && st.st_uid != ::geteuid() && ::geteuid() != 0) {
        return OpenResult::cannot_grant_write;
    }
    if (fd >= 0 && !same_file(fd, st)) {
        ::close(fd);
        fd = -1;
    }
    if (fd < 0)
        return OpenResult::cannot_open;
    handle_ = fd;
    return OpenResult::opened;
}

std::uint64_t InPlaceFile::size() const
{
    struct stat st {};
    int fd = static_cast<int>(handle_ >= 0 ? handle_ : examined_);
    return ::fstat(fd, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

Transfer InPlaceFile::read_at(unsigned char *buf, std::size_t n, std::uint64_t offset)
{
    Transfer t;
    int fd = static_cast<int>(handle_ >= 0 ? handle_ : examined_);
    while (t.count < n) {
        ssize_t got = ::pread(fd, buf + t.count, n - t.count, static_cast<off_t>(offset + t.count));
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            t.error = errno;
            break;
        }
        t.count += static_cast<std::size_t>(got);
    }
    return t;
}

Transfer InPlaceFile::write_at(const unsigned char *buf, std::size_t n, std::uint64_t offset)
{
    Transfer t;
    int fd = static_cast<int>(handle_);
    n = within_file(fd, n, offset);
    while (t.count < n) {
        ssize_t put = ::pwrite(fd, buf + t.count, n - t.count, static_cast<off_t>(offset + t.count));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            // A regular file that takes no byte without an error is full.
            t.error = put < 0 ? errno : ENOSPC;
            break;
        }
        t.count += static_cast<std::size_t>(put);
    }
    written_ = written_ || t.count > 0;
    return t;
}

bool InPlaceFile::keeps_records()
{
    return true;
}

std::string InPlaceFile::record() const
{
    char bytes[16384];
    ssize_t n = ::fgetxattr(static_cast<int>(examined_), kRecordName, bytes, sizeof bytes);
    return n > 0 ? std::string(bytes, static_cast<std::size_t>(n)) : std::string();
}

int InPlaceFile::save_record(const std::string &record)
{
    return ::fsetxattr(static_cast<int>(handle_), kRecordName, record.data(), record.size(), 0) == 0 ? 0 : errno;
}

int InPlaceFile::remove_record()
{
    return ::fremovexattr(static_cast<int>(handle_), kRecordName) == 0 || errno == ENODATA ? 0 : errno;
}

int InPlaceFile::sync()
{
    return ::fsync(static_cast<int>(handle_)) == 0 ? 0 : errno;
}

int InPlaceFile::sync_file_system()
{
    return ::syncfs(static_cast<int>(handle_)) == 0 ? 0 : errno;
}

// The mode is compared with what it is now, not with what it was: the
// kernel may have cleared the set-ID bits on the first write already, and a
// change that is not needed must not fail the run.
CloseResult InPlaceFile::close()
{
    CloseResult result;
    // A file that was never opened for update may have been made writable.
    int fd = static_cast<int>(handle_ >= 0 ? handle_ : examined_);
    struct stat st;
    if (fd >= 0 && ::fstat(fd, &st) == 0) {
        mode_t now = st.st_mode & 07777, wanted = permissions_changed_ ? original_permissions_ : now;
        if (written_)
            wanted &= ~(S_ISUID | S_ISGID);
        if (wanted != now && ::fchmod(fd, wanted) != 0) {
            (permissions_changed_ ? result.mode_error : result.setid_error) = errno;
            result.permissions = now;
        }
    }
    if (handle_ >= 0 && ::close(static_cast<int>(handle_)) != 0)
        result.close_error = errno;
    if (examined_ >= 0)
        ::close(static_cast<int>(examined_));
    handle_ = examined_ = -1;
    permissions_changed_ = written_ = false;
    return result;
}

}  // namespace lumtar
