// What the tool asks of the operating system besides the file it converts:
// the standard streams, interruptions, the cores it may use and the help
// output. One implementation per system, chosen by CMake.
#ifndef LUMTAR_SYSTEM_H
#define LUMTAR_SYSTEM_H

#include <string>
#include <vector>

namespace lumtar::sys {

// Makes the standard streams safe whatever the caller left them as: a
// closed one is opened on the null device, so that no file the tool opens
// can become one, and a write to a broken pipe fails instead of killing
// the tool. False when that cannot be done; no file may be opened then.
bool guard_standard_streams();

// A file named on the command line: as the system opens it and as
// messages show it. They differ where the command line's own encoding
// cannot hold the name (Windows, where the path is UTF-8).
struct FileName {
    std::string path;
    std::string shown;
};

// The file names of the command line, from argument first on.
std::vector<FileName> file_names(int argc, char *argv[], int first);

// From now on the interruptions (whatever would end the process from
// outside) that the caller did not choose to ignore only ask the
// conversion to stop; a message being written when one comes is still
// written whole.
void catch_interruptions();
// Whether an interruption came.
bool interrupted();
// The exit status that names the interruption that came.
int interruption_status();

// The cores this process may run on.
int usable_cores();

// Writes the help text, given as stored (Shift-JIS), to the standard
// output in the form that it shows best there. Returns 0, or the error
// that stopped the writing.
int write_help(const std::string &stored);

// The width in columns of the terminal (on Windows, the console) that the
// standard error is; 0 when it is none.
int error_terminal_width();

// Writes text to that terminal as it is. A failure is ignored: the text is
// only progress, and the conversion goes on whatever the terminal does.
void write_to_error_terminal(const std::string &text);

}  // namespace lumtar::sys

#endif
