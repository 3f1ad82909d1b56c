// Windows: the disk figures are those of the drive that holds a path, by
// its drive prefix or else the current drive.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include "drives.h"
#include "platform.h"

namespace lumlib::platform {

namespace {

struct ClusterFigures {
    DWORD sectors_per_cluster;
    DWORD bytes_per_sector;
    DWORD free_clusters;
};

std::optional<ClusterFigures> cluster_figures(const std::string &root)
{
    ClusterFigures figures;
    DWORD total_clusters;
    if (GetDiskFreeSpaceA(root.c_str(), &figures.sectors_per_cluster, &figures.bytes_per_sector,
                          &figures.free_clusters, &total_clusters) != 1)
        return std::nullopt;
    return figures;
}

using FreeSpaceQuery = BOOL(WINAPI *)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);

// The bytes free for the calling user, quota included.
std::optional<double> available_bytes(FreeSpaceQuery query, const std::string &root)
{
    ULARGE_INTEGER available, total, total_free;
    if (!query(root.c_str(), &available, &total, &total_free))
        return std::nullopt;
    return static_cast<double>(available.QuadPart);
}

// Cast through void (*)(), the type that stands for any function.
FreeSpaceQuery as_query(FARPROC entry)
{
    return reinterpret_cast<FreeSpaceQuery>(reinterpret_cast<void (*)()>(entry));
}

std::optional<BY_HANDLE_FILE_INFORMATION> identity_of(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info))
        return std::nullopt;
    return info;
}

}  // namespace

// The extended query is not on every system: it is looked up in each call,
// and the system library is released again before the call returns.
std::optional<double> free_bytes(const char *path)
{
    std::string root = drive_root(path);
    HMODULE kernel = LoadLibraryA("KERNEL32.DLL");
    FARPROC extended = kernel != nullptr ? GetProcAddress(kernel, "GetDiskFreeSpaceExA") : nullptr;
    std::optional<double> result;
    if (extended != nullptr)
        result = available_bytes(as_query(extended), root);
    else if (auto figures = cluster_figures(root))
        result = cluster_bytes(figures->free_clusters, figures->sectors_per_cluster, figures->bytes_per_sector);
    if (kernel != nullptr)
        FreeLibrary(kernel);
    return result;
}

std::optional<std::uint64_t> cluster_size(const char *path)
{
    auto figures = cluster_figures(drive_root(path));
    if (!figures)
        return std::nullopt;
    return std::uint64_t{figures->bytes_per_sector} * figures->sectors_per_cluster;
}

bool is_directory(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A file is the same when its volume and its index on the volume are: hard
// links and other spellings of the name included.
bool same_file(std::FILE *stream, const char *path)
{
    auto open_file = identity_of(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))));
    // Opened for its attributes alone and sharing everything, so that it
    // stands in the way of no other open.
    HANDLE named = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    if (named == INVALID_HANDLE_VALUE)
        return false;
    auto named_file = identity_of(named);
    CloseHandle(named);
    return open_file && named_file && open_file->dwVolumeSerialNumber == named_file->dwVolumeSerialNumber &&
           open_file->nFileIndexHigh == named_file->nFileIndexHigh &&
           open_file->nFileIndexLow == named_file->nFileIndexLow;
}

// The C runtime's fopen knows no exclusive mode here; its open does.
std::FILE *create_new(const char *path)
{
    int fd = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return nullptr;
    std::FILE *stream = _fdopen(fd, "wb");
    if (stream == nullptr) {
        _close(fd);
        std::remove(path);
    }
    return stream;
}

}  // namespace lumlib::platform
