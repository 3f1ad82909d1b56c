#include "file_io.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>

namespace lumtar {
namespace {

constexpr unsigned long kConfigFsMagic = 0x62656570;  // not in the kernel's headers

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

// Looked at by name before anything is opened or made writable, and again
// on the open file, which is what gets written.
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
int open_for_update(const char *path)
{
    return ::open(path, O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

}  // namespace

InPlaceFile::~InPlaceFile()
{
    close();
}

OpenResult InPlaceFile::open(const char *path)
{
    if (!is_plain_file(path))
        return OpenResult::not_regular;
    int fd = open_for_update(path);
    if (fd < 0) {
        struct stat st;
        if (::stat(path, &st) != 0 || ::chmod(path, (st.st_mode & 07777) | S_IWUSR) != 0)
            return OpenResult::cannot_grant_write;
        fd = open_for_update(path);
        if (fd < 0) {
            ::chmod(path, st.st_mode & 07777);
            return OpenResult::cannot_open;
        }
        permissions_changed_ = true;
        original_permissions_ = st.st_mode & 07777;
    }
    handle_ = fd;
    struct stat opened;
    if (!is_plain_file(fd, opened)) {
        close();
        return OpenResult::not_regular;
    }
    if (!permissions_changed_)
        original_permissions_ = opened.st_mode & 07777;
    return OpenResult::opened;
}

Transfer InPlaceFile::read_at(unsigned char *buf, std::size_t n, std::uint64_t offset)
{
    Transfer t;
    int fd = static_cast<int>(handle_);
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
    written_ = written_ || n > 0;
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
    return t;
}

CloseResult InPlaceFile::close()
{
    CloseResult result;
    if (handle_ < 0)
        return result;
    int fd = static_cast<int>(handle_);
    mode_t wanted = original_permissions_;
    if (written_)
        wanted &= ~(S_ISUID | S_ISGID);
    if ((permissions_changed_ || wanted != original_permissions_) && ::fchmod(fd, wanted) != 0)
        result.mode_error = errno;
    if (::close(fd) != 0)
        result.close_error = errno;
    handle_ = -1;
    permissions_changed_ = false;
    written_ = false;
    return result;
}

}  // namespace lumtar
