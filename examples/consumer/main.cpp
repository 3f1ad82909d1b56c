// Uses a routine of each kind from an installed lumlib, and says whether
// they gave what their manual pages promise.
#include <lumlib/memory.h>
#include <lumlib/messages.h>
#include <lumlib/numbers.h>
#include <lumlib/strings.h>

#include <cstring>

int main()
{
    char figure[15];
    lumlib::numToStr(1234567, figure);

    // 0x95 0x5C is one two-byte character whose second byte is a backslash:
    // the last separator is the one before it.
    const char path[] = "C:\\data\\\x95\x5c";
    const char *separator = lumlib::Strrchr(path, '\\');

    char *line = lumlib::setstr("size:");
    line = lumlib::addstr(line, figure);

    bool ok = std::strcmp(line, "size: 1,234,567") == 0 && separator == path + 7;
    lumlib::errmsg("%s (%s)\n", line, ok ? "as documented" : "NOT as documented");
    lumlib::freeMem(line);
    return ok ? 0 : 1;
}
