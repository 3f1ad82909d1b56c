#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>

#include "support/process.h"

namespace testing_support {
namespace {

// One argument as the C runtime's parser reads it back: quoted when it is
// empty or holds blanks or quotes; inside, backslashes are literal except
// where they precede a quote, and then they and the quote are escaped.
std::string quoted(const std::string &arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos)
        return arg;
    std::string text = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        text.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        text += c;
        backslashes = 0;
    }
    return text.append(2 * backslashes, '\\') + '"';
}

SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};

HANDLE inheritable_file(const std::string &path, DWORD access, DWORD disposition)
{
    HANDLE file = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot open " + path);
    return file;
}

// The children of start_process, by process id, until they are waited for.
std::map<pid_t, HANDLE> started;

}  // namespace

// The child inherits this process's environment with the entries added,
// which are set here only while it starts. The test process is
// single-threaded then, so no other child inherits its handles by chance.
pid_t start_process(const std::vector<std::string> &argv, const std::string &out_path,
                    const std::string &err_path, const ProcessOptions &options)
{
    if (options.in_child)
        throw std::invalid_argument("in_child needs fork, which Windows does not have");
    std::vector<std::string> saved;
    for (const auto &entry : options.env) {
        const char *old = std::getenv(entry.substr(0, entry.find('=')).c_str());
        saved.push_back(entry.substr(0, entry.find('=') + 1) + (old != nullptr ? old : ""));
        _putenv(entry.c_str());
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inheritable_file("NUL", GENERIC_READ, OPEN_EXISTING);
    startup.hStdOutput = inheritable_file(out_path, GENERIC_WRITE, CREATE_ALWAYS);
    startup.hStdError = inheritable_file(err_path, GENERIC_WRITE, CREATE_ALWAYS);
    // The arguments are UTF-8, as the tool's file names are: a name that
    // the ANSI code page lacks reaches the child whole.
    std::wstring line;
    for (const auto &arg : argv)
        line += (line.empty() ? L"" : L" ") + std::filesystem::u8path(quoted(arg)).wstring();
    PROCESS_INFORMATION child{};
    DWORD flags = options.new_process_group ? CREATE_NEW_PROCESS_GROUP : 0;
    BOOL started_ok = CreateProcessW(std::filesystem::u8path(argv[0]).c_str(), line.data(), nullptr, nullptr, TRUE,
                                     flags, nullptr, nullptr, &startup, &child);
    DWORD error = GetLastError();
    for (HANDLE h : {startup.hStdInput, startup.hStdOutput, startup.hStdError})
        CloseHandle(h);
    for (const auto &entry : saved)
        _putenv(entry.c_str());
    if (!started_ok)
        throw std::runtime_error("cannot start " + argv[0] + ": error " + std::to_string(error));
    CloseHandle(child.hThread);
    started[static_cast<pid_t>(child.dwProcessId)] = child.hProcess;
    return static_cast<pid_t>(child.dwProcessId);
}

ProcessResult wait_process(pid_t pid, const std::string &out_path, const std::string &err_path)
{
    HANDLE process = started.at(pid);
    started.erase(pid);
    WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return {static_cast<int>(code), read_file(out_path), read_file(err_path)};
}

}  // namespace testing_support
