#include "file_io.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>

namespace lumtar {
namespace {

HANDLE handle_of(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

// The messages name errors as the C library does on every system.
int errno_of(DWORD error)
{
    switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_ACCESS_DENIED:
    case ERROR_LOCK_VIOLATION:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_FILE_TOO_LARGE:
        return EFBIG;
    default:
        return EIO;
    }
}

bool equals_ignoring_case(const std::string &a, const char *b)
{
    if (a.size() != std::strlen(b))
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != b[i])
            return false;
    return true;
}

// A reserved device name (CON, NUL, COM1 ...) is a device in any directory
// and with any extension; trailing blanks and dots do not count. Opening a
// serial port or the console for writing could block or send the bytes
// away, so these names are recognised before anything is opened.
bool names_a_device(const char *path)
{
    std::string text = path;
    if (text.rfind("\\\\.\\", 0) == 0 || text.rfind("//./", 0) == 0)
        return true;
    std::size_t start = text.find_last_of("\\/:");
    std::string base = text.substr(start == std::string::npos ? 0 : start + 1);
    base = base.substr(0, base.find('.'));
    base.erase(base.find_last_not_of(' ') + 1);
    for (const char *device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (equals_ignoring_case(base, device))
            return true;
    return base.size() == 4 && (equals_ignoring_case(base.substr(0, 3), "COM") ||
                                equals_ignoring_case(base.substr(0, 3), "LPT")) &&
           base[3] >= '1' && base[3] <= '9';
}

bool is_directory(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Read and write sharing as the C runtime's update mode allows it.
HANDLE open_for_update(const char *path)
{
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool set_attributes(const char *path, DWORD attributes)
{
    return SetFileAttributesA(path, attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes) != 0;
}

OVERLAPPED at_offset(std::uint64_t offset)
{
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(offset);
    where.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return where;
}

// One system call moves at most what a DWORD counts.
DWORD piece(std::size_t n)
{
    return static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30));
}

}  // namespace

InPlaceFile::~InPlaceFile()
{
    close();
}

OpenResult InPlaceFile::open(const char *path)
{
    if (names_a_device(path) || is_directory(GetFileAttributesA(path)))
        return OpenResult::not_regular;
    HANDLE file = open_for_update(path);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD attributes = GetFileAttributesA(path);
        if (attributes == INVALID_FILE_ATTRIBUTES || !set_attributes(path, attributes & ~FILE_ATTRIBUTE_READONLY))
            return OpenResult::cannot_grant_write;
        file = open_for_update(path);
        if (file == INVALID_HANDLE_VALUE) {
            set_attributes(path, attributes);
            return OpenResult::cannot_open;
        }
        permissions_changed_ = true;
        original_permissions_ = attributes;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        is_directory(info.dwFileAttributes)) {
        close();
        return OpenResult::not_regular;
    }
    return OpenResult::opened;
}

Transfer InPlaceFile::read_at(unsigned char *buf, std::size_t n, std::uint64_t offset)
{
    Transfer t;
    while (t.count < n) {
        OVERLAPPED where = at_offset(offset + t.count);
        DWORD got = 0;
        if (!ReadFile(handle_of(handle_), buf + t.count, piece(n - t.count), &got, &where)) {
            if (GetLastError() != ERROR_HANDLE_EOF)
                t.error = errno_of(GetLastError());
            break;
        }
        if (got == 0)
            break;
        t.count += got;
    }
    return t;
}

Transfer InPlaceFile::write_at(const unsigned char *buf, std::size_t n, std::uint64_t offset)
{
    Transfer t;
    while (t.count < n) {
        OVERLAPPED where = at_offset(offset + t.count);
        DWORD put = 0;
        if (!WriteFile(handle_of(handle_), buf + t.count, piece(n - t.count), &put, &where)) {
            t.error = errno_of(GetLastError());
            break;
        }
        if (put == 0) {
            t.error = ENOSPC;
            break;
        }
        t.count += put;
    }
    return t;
}

// The attributes go back through the open handle: the name may have come
// to mean another file meanwhile.
CloseResult InPlaceFile::close()
{
    CloseResult result;
    if (handle_ == -1)
        return result;
    HANDLE file = handle_of(handle_);
    if (permissions_changed_) {
        FILE_BASIC_INFO basic{};  // times of zero stay as they are
        basic.FileAttributes = original_permissions_ == 0 ? FILE_ATTRIBUTE_NORMAL : original_permissions_;
        if (!SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic))
            result.mode_error = errno_of(GetLastError());
    }
    if (!CloseHandle(file))
        result.close_error = errno_of(GetLastError());
    handle_ = -1;
    permissions_changed_ = false;
    return result;
}

}  // namespace lumtar
