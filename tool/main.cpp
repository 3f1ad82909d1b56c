// lumtar: enciphers or deciphers files in place with a key.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "cipher.h"
#include "convert.h"
#include "lumlib/memory.h"
#include "lumlib/messages.h"
#include "system.h"
#include "usage.h"

// The tool has no clean-up to run before a fatal exit of the library.
void (*lumlib::endfun)() = nullptr;

namespace {

int show_help()
{
    if (int error = lumtar::sys::write_help(lumtar::help_text())) {
        lumlib::errmsg("can't write the help text (%s).\n", std::strerror(error));
        return 1;
    }
    return 0;
}

int usage_error()
{
    lumlib::errmsg("%s\n", lumtar::usage[2]);
    return 1;
}

// Reads a number as atoi does (white space, a sign, the digits up to the
// first non-digit, 0 without any), but into 64 bits and saturating.
std::int64_t parse_length(const char *text)
{
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    while (std::isspace(static_cast<unsigned char>(*text)))
        ++text;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+')
        ++text;
    std::int64_t value = 0;
    for (; std::isdigit(static_cast<unsigned char>(*text)); ++text) {
        int digit = *text - '0';
        value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
    }
    return negative ? -value : value;
}

int run(int argc, char *argv[])
{
    if (argc == 2 && std::strcmp(argv[1], "-usage") == 0)
        return show_help();
    if (argc < 3)
        return usage_error();

    lumtar::Options options;
    int arg = 1;
    for (; arg < argc - 1; ++arg) {
        if (std::strcmp(argv[arg], "-t") == 0) {
            options.text_mode = true;
        } else if (std::strcmp(argv[arg], "-l") == 0) {
            options.limit = parse_length(argv[++arg]);
            if (options.limit < 1)
                return usage_error();
        } else {
            break;
        }
    }
    if (arg >= argc - 1)
        return usage_error();

    // Keep a copy and blank the argument, so that the process list shows the
    // key only for the instant before this.
    std::string key = argv[arg];
    std::memset(argv[arg], 0, key.size());
    lumtar::key_text = key.c_str();

    if (!lumtar::sys::guard_standard_streams())
        return 1;
    lumtar::sys::catch_interruptions();
    // A skipped file is not a failure, but a script must not take the run
    // for a whole success.
    int status = 0;
    lumtar::Run files;
    const auto names = lumtar::sys::file_names(argc, argv, arg + 1);
    options.files = static_cast<int>(names.size());
    for (std::size_t i = 0; i <= names.size(); ++i) {
        options.place = static_cast<int>(i) + 1;
        // After the last file, the small files that still wait are written.
        switch (i < names.size() ? files.convert(names[i], options) : files.finish()) {
        case lumtar::Outcome::done:
            break;
        case lumtar::Outcome::skipped:
            status = 2;
            break;
        case lumtar::Outcome::failed:
            std::printf("exit!\n");
            return 1;
        case lumtar::Outcome::interrupted:
            return lumtar::sys::interruption_status();
        }
    }
    return status;
}

}  // namespace

// Unwinding puts a file's permissions back on the way out, so nothing may
// leave main as an exception.
int main(int argc, char *argv[])
{
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc &) {
        std::fputs("not enough memory.\n", stderr);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s.\n", e.what());
    }
    return 1;
}
