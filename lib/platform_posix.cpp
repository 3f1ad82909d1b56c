// POSIX has no drive letters: a path is answered for by the file system
// that holds it, and "C:\dir" is just a relative name.
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <string>

#include "platform.h"

namespace lumlib::platform {

namespace {

// The directory that holds path, by its text alone: "a/b" gives "a",
// "/a" gives "/", a single relative name gives ".".
std::string parent_of(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    path.erase(slash == 0 ? 1 : slash);
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// The figures of the path itself, or of its nearest existing ancestor when
// it does not exist yet (a file about to be written).
std::optional<struct statvfs> file_system_of(const char *path)
{
    std::string at = path;
    for (;;) {
        struct statvfs fs;
        if (statvfs(at.c_str(), &fs) == 0)
            return fs;
        bool missing = errno == ENOENT || errno == ENOTDIR;
        if (!missing || at == "." || at == "/")
            return std::nullopt;
        at = parent_of(at);
    }
}

}  // namespace

std::optional<double> free_bytes(const char *path)
{
    auto fs = file_system_of(path);
    if (!fs)
        return std::nullopt;
    return static_cast<double>(fs->f_bavail) * static_cast<double>(fs->f_frsize);
}

// The fragment size is the unit in which free space is counted, the
// counterpart of a cluster.
std::optional<std::uint64_t> cluster_size(const char *path)
{
    auto fs = file_system_of(path);
    if (!fs)
        return std::nullopt;
    return fs->f_frsize;
}

bool is_directory(const char *path)
{
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool same_file(std::FILE *stream, const char *path)
{
    struct stat open_file, named;
    return fstat(fileno(stream), &open_file) == 0 && stat(path, &named) == 0 && open_file.st_dev == named.st_dev &&
           open_file.st_ino == named.st_ino;
}

std::FILE *create_new(const char *path) { return std::fopen(path, "wbx"); }

}  // namespace lumlib::platform
