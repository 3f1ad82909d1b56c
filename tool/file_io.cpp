#include "file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace lumtar {
namespace {

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
    struct stat st;
    if (::stat(path, &st) == 0 && !S_ISREG(st.st_mode))
        return OpenResult::not_regular;
    fd_ = open_for_update(path);
    if (fd_ < 0) {
        if (::stat(path, &st) != 0 || ::chmod(path, (st.st_mode & 07777) | S_IWUSR) != 0)
            return OpenResult::cannot_grant_write;
        original_mode_ = st.st_mode & 07777;
        fd_ = open_for_update(path);
        if (fd_ < 0) {
            ::chmod(path, original_mode_);
            return OpenResult::cannot_open;
        }
        mode_changed_ = true;
    }
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        close();
        return OpenResult::not_regular;
    }
    return OpenResult::opened;
}

Transfer InPlaceFile::read_at(unsigned char *buf, std::size_t n, std::uint64_t offset)
{
    Transfer t;
    while (t.count < n) {
        ssize_t got = ::pread(fd_, buf + t.count, n - t.count, static_cast<off_t>(offset + t.count));
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
    while (t.count < n) {
        ssize_t put = ::pwrite(fd_, buf + t.count, n - t.count, static_cast<off_t>(offset + t.count));
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

int InPlaceFile::close()
{
    if (fd_ < 0)
        return 0;
    int error = 0;
    if (mode_changed_ && ::fchmod(fd_, original_mode_) != 0)
        error = errno;
    if (::close(fd_) != 0 && error == 0)
        error = errno;
    fd_ = -1;
    mode_changed_ = false;
    return error;
}

}  // namespace lumtar
