#include "system.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <bitset>
#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace lumtar::sys {
namespace {

// Set by the console's handler thread, read by every worker: the exit
// status that names the event, or 0.
std::atomic<int> event_status{0};

BOOL WINAPI note_console_event(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        event_status = 130;
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The system ends the process as soon as this returns: wait here
        // while the conversion stops, and let its end end the process.
        event_status = 129;
        Sleep(INFINITE);
        return TRUE;
    default:
        return FALSE;
    }
}

bool is_usable(HANDLE handle)
{
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return false;
    return GetFileType(handle) != FILE_TYPE_UNKNOWN || GetLastError() == NO_ERROR;
}

// The help as the console shows it whatever its code page: converted from
// code page 932 to UTF-16.
int write_to_console(HANDLE console, const std::string &stored)
{
    std::string text;
    for (char c : stored)
        text += c == '\n' ? std::string("\r\n") : std::string(1, c);
    int length = MultiByteToWideChar(932, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(932, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    for (DWORD done = 0, put = 0; done < wide.size(); done += put)
        if (!WriteConsoleW(console, wide.data() + done, static_cast<DWORD>(wide.size() - done), &put, nullptr) ||
            put == 0)
            return EIO;
    return 0;
}

// Some code pages (UTF-8, GB18030, the ISO-2022 ones) take no flags.
std::string narrowed(const wchar_t *text, UINT code_page, DWORD flags)
{
    int length = WideCharToMultiByte(code_page, flags, text, -1, nullptr, 0, nullptr, nullptr);
    if (length == 0 && flags != 0)
        return narrowed(text, code_page, 0);
    std::string bytes(static_cast<std::size_t>(std::max(length, 1)), '\0');
    WideCharToMultiByte(code_page, flags, text, -1, bytes.data(), length, nullptr, nullptr);
    bytes.resize(static_cast<std::size_t>(std::max(length - 1, 0)));
    return bytes;
}

// A name as a message shows it: in the console's code page when the
// messages go to a console, else in the ANSI code page. A character that
// the code page lacks shows as '?', never as a look-alike that would name
// another file.
std::string shown_form(const wchar_t *name)
{
    DWORD mode;
    UINT code_page = GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) ? GetConsoleOutputCP() : CP_ACP;
    return narrowed(name, code_page, WC_NO_BEST_FIT_CHARS);
}

}  // namespace

// The files are opened as handles of their own, never as the C runtime's
// descriptors; a standard stream that is missing is opened on the null
// device all the same, so that writing to it goes nowhere harmlessly.
bool guard_standard_streams()
{
    const struct {
        DWORD id;
        std::FILE *stream;
        const char *mode;
    } streams[] = {{STD_INPUT_HANDLE, stdin, "r"}, {STD_OUTPUT_HANDLE, stdout, "w"}, {STD_ERROR_HANDLE, stderr, "w"}};
    for (const auto &s : streams)
        if (!is_usable(GetStdHandle(s.id)) && std::freopen("NUL", s.mode, s.stream) == nullptr)
            return false;
    return true;
}

// The names come from the wide command line: argv holds the ANSI one, made
// with a best-fit mapping that can turn a name into another's (U+FF41, a
// full-width 'a', into 'a'). Each wide argument must map to its ANSI one
// as the system mapped it, or the two were split apart differently (a
// full-width quotation mark maps to '"') and no name is trusted: nothing
// is converted then.
std::vector<FileName> file_names(int argc, char *argv[], int first)
{
    int count = 0;
    LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<FileName> names;
    for (int i = first; wide != nullptr && count == argc && i < argc && narrowed(wide[i], CP_ACP, 0) == argv[i]; ++i)
        names.push_back({narrowed(wide[i], CP_UTF8, 0), shown_form(wide[i])});
    LocalFree(wide);
    if (names.size() != static_cast<std::size_t>(argc - first))
        throw std::runtime_error("can't read the file names as they were typed");
    return names;
}

// A process started with Ctrl+C ignored never sees the event here.
void catch_interruptions()
{
    SetConsoleCtrlHandler(note_console_event, TRUE);
}

bool interrupted()
{
    return event_status != 0;
}

int interruption_status()
{
    return event_status;
}

int usable_cores()
{
    DWORD_PTR process_mask = 0, system_mask = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask))
        return 1;
    return std::max<int>(1, static_cast<int>(std::bitset<sizeof process_mask * 8>(process_mask).count()));
}

// Redirected, the help is the stored bytes, with the line ends of text
// mode.
int write_help(const std::string &stored)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode;
    if (GetConsoleMode(out, &mode))
        return write_to_console(out, stored);
    errno = 0;
    if (std::fwrite(stored.data(), 1, stored.size(), stdout) == stored.size() && std::fflush(stdout) == 0)
        return 0;
    return errno != 0 ? errno : EIO;
}

// Only a console handle has a screen buffer: a redirected standard error,
// or a pipe that a terminal emulator reads, has none.
int error_terminal_width()
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

// The text is ASCII: every console code page shows it as it is.
void write_to_error_terminal(const std::string &text)
{
    DWORD put;
    WriteConsoleA(GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()), &put, nullptr);
}

}  // namespace lumtar::sys
