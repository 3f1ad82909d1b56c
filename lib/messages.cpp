#include "lumlib/messages.h"

#include <algorithm>
#include <cstring>

#include "lumlib/strings.h"

namespace lumlib {

FILE *errfp = nullptr;
int errmsg_output_flg = 0;
int errmsgWrite_flg = 0;

namespace {

constexpr int kTextLimit = 1024;
// A %s that does not fit is cut to end the text here, leaving room below
// the limit for the rest of the format.
constexpr int kCutAt = 768;
// Headroom past the limit: the step that crosses it, the terminator, and
// the line feed that errmsgf adds.
char errbuf[kTextLimit + 256];
constexpr int kRoom = sizeof errbuf - 2;

FILE *logfp = nullptr;

FILE *const kStdoutMarker = reinterpret_cast<FILE *>(-1);

// Whether the format asks for editing: a '%' found walking by characters,
// so the second byte of a two-byte character never counts.
bool has_conversion(const char *format)
{
    return Strchr(format, '%') != nullptr;
}

// Appends up to n bytes, never past the headroom.
int append(int len, const char *text, int n)
{
    n = std::min(n, kRoom - len);
    std::memcpy(errbuf + len, text, static_cast<size_t>(n));
    return len + n;
}

int append_printf(int len, const char *conversion, ...)
{
    // Large enough for any %d, %x and %f, DBL_MAX included.
    char number[400];
    va_list args;
    va_start(args, conversion);
    int n = std::vsnprintf(number, sizeof number, conversion, args);
    va_end(args);
    return append(len, number, std::max(0, std::min(n, static_cast<int>(sizeof number) - 1)));
}

int append_string(int len, const char *text)
{
    if (text == nullptr)
        text = "(null)";
    size_t n = std::strlen(text);
    if (n + static_cast<size_t>(len) > kTextLimit)
        n = static_cast<size_t>(std::max(0, kCutAt - len));
    return append(len, text, static_cast<int>(n));
}

// The message text: edited when the format holds a conversion, else the
// format itself.
const char *message_text(const char *format, va_list args)
{
    return has_conversion(format) ? err_edit(format, args) : format;
}

}  // namespace

char *err_edit(const char *format, va_list args)
{
    const char *p = format;
    int len = 0;
    while (len < kTextLimit && *p != '\0') {
        if (*p == '\\' && p[1] != '\0') {
            len = append(len, p + 1, 1);
            p += 2;
        } else if (*p != '%') {
            len = append(len, p++, 1);
        } else if (p[1] == '\0') {
            len = append(len, p++, 1);
        } else {
            char conversion = p[1];
            p += 2;
            switch (conversion) {
            case 'c': {
                char c = static_cast<char>(va_arg(args, int));
                len = append(len, &c, 1);
                break;
            }
            case 'd': len = append_printf(len, "%d", va_arg(args, int)); break;
            case 'x': len = append_printf(len, "%x", static_cast<unsigned>(va_arg(args, int))); break;
            case 'f': len = append_printf(len, "%f", va_arg(args, double)); break;
            case 's': len = append_string(len, va_arg(args, const char *)); break;
            default: len = append(len, p - 2, 2); break;
            }
        }
    }
    errbuf[len] = '\0';
    return errbuf;
}

void errmsg(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const char *text = message_text(format, args);
    va_end(args);
    std::fprintf(errfp == kStdoutMarker ? stdout : stderr, "%s", text);
    errmsg_output_flg = 1;
}

void errmsg1(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const char *text = message_text(format, args);
    va_end(args);
    FILE *out = errfp == kStdoutMarker ? stdout : errfp != nullptr ? errfp : stderr;
    std::fprintf(out, "%s", text);
}

int errmsgf(const char *format, ...)
{
    if (errmsgWrite_flg == 0)
        return 0;
    if (std::strcmp(format, "end") == 0) {
        if (logfp == nullptr)
            return -1;
        int closed = std::fclose(logfp);
        logfp = nullptr;
        return closed == 0 ? 0 : -1;
    }
    va_list args;
    va_start(args, format);
    const char *text = message_text(format, args);
    va_end(args);
    if (logfp == nullptr)
        logfp = std::fopen("message.log", "w");
    if (logfp == nullptr)
        return -1;
    if (std::fputs(text, logfp) == EOF)
        return -1;
    return std::fputc('\n', logfp) == EOF ? -1 : '\n';
}

}  // namespace lumlib
