#include "support/process.h"

#include <windows.h>

#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <thread>

#include "support/temp_dir.h"

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
    text.append(2 * backslashes, '\\');
    return text + '"';
}

std::string command_line(const std::vector<std::string> &argv)
{
    std::string line;
    for (const auto &arg : argv)
        line += (line.empty() ? "" : " ") + quoted(arg);
    return line;
}

// Names of variables, which Windows compares without regard to case. An
// entry may start with '=' (the current directories of the drives).
std::string variable_of(const std::string &entry)
{
    std::string name = entry.substr(0, entry.find('=', 1));
    for (char &c : name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

// This process's environment with the entries added, replacing variables
// of the same names: a block of zero-terminated entries ending in a zero.
std::string environment_with(const std::vector<std::string> &entries)
{
    std::set<std::string> replaced;
    for (const auto &entry : entries)
        replaced.insert(variable_of(entry));
    std::string block;
    char *current = GetEnvironmentStringsA();
    for (const char *entry = current; *entry != '\0'; entry += std::strlen(entry) + 1)
        if (replaced.count(variable_of(entry)) == 0)
            block.append(entry).push_back('\0');
    FreeEnvironmentStringsA(current);
    for (const auto &entry : entries)
        block.append(entry).push_back('\0');
    block.push_back('\0');
    return block;
}

SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

Handle checked(HANDLE handle, const std::string &what)
{
    if (handle == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot open " + what);
    return Handle(handle);
}

// Only the child's end of the pipe is inherited.
struct Pipe {
    Handle read, write;
};

Pipe make_pipe()
{
    HANDLE read, write;
    if (!CreatePipe(&read, &write, &inheritable, 0))
        throw std::runtime_error("pipe failed");
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    return {Handle(read), Handle(write)};
}

Handle create_output(const std::string &path)
{
    return checked(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr),
                   path);
}

// Starts the child with the given standard output and error, which it
// inherits, and returns its process. The test process is single-threaded
// while it starts a child, so no other child inherits them by chance.
PROCESS_INFORMATION spawn(const std::vector<std::string> &argv, const ProcessOptions &options, HANDLE out,
                          HANDLE err)
{
    if (options.in_child)
        throw std::invalid_argument("in_child needs fork, which Windows does not have");
    Handle in = checked(CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                    OPEN_EXISTING, 0, nullptr),
                        "NUL");
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in.get();
    startup.hStdOutput = out;
    startup.hStdError = err;
    std::string line = command_line(argv);
    std::string environment = options.env.empty() ? "" : environment_with(options.env);
    PROCESS_INFORMATION child{};
    DWORD flags = options.new_process_group ? CREATE_NEW_PROCESS_GROUP : 0;
    if (!CreateProcessA(argv[0].c_str(), line.data(), nullptr, nullptr, TRUE, flags,
                        environment.empty() ? nullptr : environment.data(),
                        options.cwd.empty() ? nullptr : options.cwd.c_str(), &startup, &child))
        throw std::runtime_error("cannot start " + argv[0] + ": error " + std::to_string(GetLastError()));
    CloseHandle(child.hThread);
    return child;
}

void read_all(HANDLE pipe, std::string *sink)
{
    char buf[4096];
    DWORD got;
    while (ReadFile(pipe, buf, sizeof buf, &got, nullptr) && got > 0)
        sink->append(buf, got);
}

ProcessResult wait_for(HANDLE process)
{
    WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    ProcessResult result;
    result.exit_status = static_cast<int>(code);
    return result;
}

// The children of start_process, by process id, until they are waited for.
std::map<pid_t, Handle> started;

}  // namespace

ProcessResult run_process(const std::vector<std::string> &argv, const ProcessOptions &options)
{
    Pipe out = make_pipe(), err = make_pipe();
    Handle process(spawn(argv, options, out.write.get(), err.write.get()).hProcess);
    out.write.reset();
    err.write.reset();
    // Both pipes are drained at once, so that a child blocked on one of
    // them never waits for a parent blocked on the other.
    std::string out_text, err_text;
    std::thread err_reader(read_all, err.read.get(), &err_text);
    read_all(out.read.get(), &out_text);
    err_reader.join();
    ProcessResult result = wait_for(process.get());
    result.out = std::move(out_text);
    result.err = std::move(err_text);
    return result;
}

pid_t start_process(const std::vector<std::string> &argv, const std::string &out_path,
                    const std::string &err_path, const ProcessOptions &options)
{
    Handle out = create_output(out_path), err = create_output(err_path);
    PROCESS_INFORMATION child = spawn(argv, options, out.get(), err.get());
    pid_t pid = static_cast<pid_t>(child.dwProcessId);
    started[pid] = Handle(child.hProcess);
    return pid;
}

ProcessResult wait_process(pid_t pid, const std::string &out_path, const std::string &err_path)
{
    auto child = started.find(pid);
    if (child == started.end())
        throw std::invalid_argument("no child " + std::to_string(pid) + " to wait for");
    ProcessResult result = wait_for(child->second.get());
    started.erase(child);
    result.out = read_file(out_path);
    result.err = read_file(err_path);
    return result;
}

}  // namespace testing_support
