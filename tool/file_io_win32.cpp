#include "file_io.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>

namespace lumtar {
namespace {

// Read and write sharing as the C runtime's update mode allows it.
constexpr DWORD kShared = FILE_SHARE_READ | FILE_SHARE_WRITE;

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

// COM1 to COM9 and LPT1 to LPT9, and with the superscript digits 1 to 3
// (UTF-8), which the system takes for the same ports.
bool names_a_port(const std::string &base)
{
    if (base.size() < 4 || !(equals_ignoring_case(base.substr(0, 3), "COM") ||
                             equals_ignoring_case(base.substr(0, 3), "LPT")))
        return false;
    std::string number = base.substr(3);
    if (number.size() == 1)
        return number[0] >= '1' && number[0] <= '9';
    return number == "\xc2\xb9" || number == "\xc2\xb2" || number == "\xc2\xb3";
}

// A reserved device name (CON, NUL, COM1 ...) is a device in any directory
// and with any extension or colon after it (COM1:); trailing blanks do not
// count. Opening a serial port or the console could block, toggle the
// port's lines or send the bytes away, so these names are recognised before
// anything is opened.
bool names_a_device(const char *path)
{
    std::string text = path;
    if (text.rfind("\\\\.\\", 0) == 0 || text.rfind("//./", 0) == 0)
        return true;
    // The name proper follows the last separator, or else a drive's colon.
    std::size_t start = text.find_last_of("\\/");
    if (start == std::string::npos && text.size() >= 2 && text[1] == ':')
        start = 1;
    std::string base = text.substr(start == std::string::npos ? 0 : start + 1);
    base = base.substr(0, base.find_first_of(".:"));
    base.erase(base.find_last_not_of(' ') + 1);
    for (const char *device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (equals_ignoring_case(base, device))
            return true;
    return names_a_port(base);
}

// Empty when the bytes are not UTF-8: no file has that name.
std::wstring widened(const char *text)
{
    int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(length, 1)), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide.data(), length) == 0)
        return {};
    wide.resize(static_cast<std::size_t>(length - 1));
    return wide;
}

bool starts_with(const std::wstring &text, const wchar_t *prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// The name as the wide calls take it at any length: made whole by
// GetFullPathNameW, which does all the rewriting that the system does to a
// name (separators, ".", "..", trailing dots and blanks), then marked with
// \\?\ so that the limit of 260 characters no longer applies. A name that
// has the mark already is taken as it is. Empty when there is no such name.
std::wstring system_path(const char *path)
{
    std::wstring name = widened(path);
    if (name.empty() || starts_with(name, L"\\\\?\\"))
        return name;
    DWORD size = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    DWORD length = GetFullPathNameW(name.c_str(), size, full.data(), nullptr);
    if (size == 0 || length == 0 || length >= size)
        return {};
    full.resize(length);
    if (starts_with(full, L"\\\\.\\"))
        return full;
    if (starts_with(full, L"\\\\"))
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

bool is_directory(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

DWORD attributes_of(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(file, &info) ? info.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

// Through a handle of its own on the examined file, never by name: the
// name may have come to mean another file meanwhile. Returns the system's
// error, or 0. Wine refuses that access to a read-only file, but takes the
// change through the examined handle.
DWORD set_attributes(HANDLE examined, DWORD attributes)
{
    // "Normal" stands for no attribute at all and goes with none; times of
    // zero stay as they are.
    attributes &= ~FILE_ATTRIBUTE_NORMAL;
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    HANDLE own = ReOpenFile(examined, FILE_WRITE_ATTRIBUTES, kShared, 0);
    HANDLE file = own != INVALID_HANDLE_VALUE ? own : examined;
    DWORD error = SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) ? 0 : GetLastError();
    if (own != INVALID_HANDLE_VALUE)
        CloseHandle(own);
    return error;
}

// The very file of the examined handle, whatever its name means now.
HANDLE reopen_for_update(HANDLE examined)
{
    return ReOpenFile(examined, GENERIC_READ | GENERIC_WRITE, kShared, 0);
}

// The whole file, from its start to the largest offset there is, so that
// no lock of another program can overlap what is converted. A lock bars
// every other handle, those of this process included: it is held by the
// handle that writes.
bool lock_whole(HANDLE file)
{
    OVERLAPPED from_start{};
    return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD,
                      &from_start) != 0;
}

// Given up at once: a lock left to CloseHandle may outlive the handle a
// while, and the next run on the file would find it in use.
void unlock_whole(HANDLE file)
{
    OVERLAPPED from_start{};
    UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &from_start);
}

// Only a refusal means that another program holds the file: where the
// file system has no locks, the file is converted unlocked.
bool held_by_another(HANDLE file)
{
    return !lock_whole(file) && GetLastError() == ERROR_LOCK_VIOLATION;
}

// A name that no full path could be made of is too long for the system.
OpenResult why_not_opened(DWORD error, bool no_full_path)
{
    if (error == ERROR_SHARING_VIOLATION)
        return OpenResult::in_use;
    if (error == ERROR_FILENAME_EXCED_RANGE || no_full_path)
        return OpenResult::name_too_long;
    return OpenResult::cannot_grant_write;
}

// What is left of n bytes at offset in a file that may have been cut.
std::size_t within_file(HANDLE file, std::size_t n, std::uint64_t offset)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size))
        return n;
    return static_cast<std::size_t>(std::clamp<std::uint64_t>(size.QuadPart, offset, offset + n) - offset);
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

// Opened for reading only, and sharing what the update will share: another
// program that shares neither holds the file.
OpenResult InPlaceFile::examine(const char *path)
{
    std::wstring name = system_path(path);
    if (names_a_device(path) || is_directory(GetFileAttributesW(name.c_str())))
        return OpenResult::not_regular;
    HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, kShared, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return why_not_opened(GetLastError(), name.empty() && *path != '\0');
    examined_ = reinterpret_cast<std::intptr_t>(file);
    original_permissions_ = attributes_of(file);
    if (GetFileType(file) != FILE_TYPE_DISK || original_permissions_ == INVALID_FILE_ATTRIBUTES ||
        is_directory(original_permissions_)) {
        close();
        return OpenResult::not_regular;
    }
    if (held_by_another(file)) {
        close();
        return OpenResult::in_use;
    }
    return OpenResult::opened;
}

FileId InPlaceFile::id() const
{
    BY_HANDLE_FILE_INFORMATION info{};
    GetFileInformationByHandle(handle_of(examined_), &info);
    return {info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

// Only the read-only attribute is cleared, and only when it is what denies
// the access. The lock then moves to the handle that writes; a program
// that takes it in between holds the file.
OpenResult InPlaceFile::open_for_update()
{
    HANDLE examined = handle_of(examined_);
    HANDLE file = reopen_for_update(examined);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED &&
        (original_permissions_ & FILE_ATTRIBUTE_READONLY) != 0) {
        if (set_attributes(examined, original_permissions_ & ~FILE_ATTRIBUTE_READONLY) != 0)
            return OpenResult::cannot_grant_write;
        permissions_changed_ = true;
        file = reopen_for_update(examined);
    }
    if (file == INVALID_HANDLE_VALUE)
        return OpenResult::cannot_open;
    handle_ = reinterpret_cast<std::intptr_t>(file);
    unlock_whole(examined);
    return held_by_another(file) ? OpenResult::in_use : OpenResult::opened;
}

std::uint64_t InPlaceFile::size() const
{
    LARGE_INTEGER size{};
    HANDLE file = handle_of(handle_ != -1 ? handle_ : examined_);
    return GetFileSizeEx(file, &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}

Transfer InPlaceFile::read_at(unsigned char *buf, std::size_t n, std::uint64_t offset)
{
    Transfer t;
    while (t.count < n) {
        OVERLAPPED where = at_offset(offset + t.count);
        DWORD got = 0;
        if (!ReadFile(handle_of(handle_ != -1 ? handle_ : examined_), buf + t.count, piece(n - t.count), &got,
                      &where)) {
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
    HANDLE file = handle_of(handle_);
    n = within_file(file, n, offset);
    while (t.count < n) {
        OVERLAPPED where = at_offset(offset + t.count);
        DWORD put = 0;
        if (!WriteFile(file, buf + t.count, piece(n - t.count), &put, &where)) {
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

// No record of an unfinished conversion is kept on Windows yet: a stream of
// the file would hold it, but a stream is not replaced in one step, and a
// record cut short by a kill would be worse than none. The file is
// converted as on a file system that keeps no record.
bool InPlaceFile::keeps_records()
{
    return false;
}

std::string InPlaceFile::record() const
{
    return {};
}

int InPlaceFile::save_record(const std::string &)
{
    return ENOTSUP;
}

int InPlaceFile::remove_record()
{
    return 0;
}

int InPlaceFile::sync()
{
    return FlushFileBuffers(reinterpret_cast<HANDLE>(handle_)) ? 0 : errno_of(GetLastError());
}

// A volume can be flushed whole only by an administrator. No group of
// files forms here anyway, since no record is kept.
int InPlaceFile::sync_file_system()
{
    return sync();
}

// Only the read-only attribute goes back, and only where it was cleared:
// the others may have changed since (writing sets the archive attribute).
CloseResult InPlaceFile::close()
{
    CloseResult result;
    HANDLE examined = handle_of(examined_);
    if (permissions_changed_) {
        DWORD now = attributes_of(examined);
        DWORD error = set_attributes(examined, (now == INVALID_FILE_ATTRIBUTES ? original_permissions_ : now) |
                                                   FILE_ATTRIBUTE_READONLY);
        result.mode_error = error == 0 ? 0 : errno_of(error);
    }
    if (handle_ != -1) {
        unlock_whole(handle_of(handle_));
        if (!CloseHandle(handle_of(handle_)))
            result.close_error = errno_of(GetLastError());
    }
    if (examined_ != -1) {
        unlock_whole(examined);
        CloseHandle(examined);
    }
    handle_ = examined_ = -1;
    permissions_changed_ = false;
    return result;
}

}  // namespace lumtar
