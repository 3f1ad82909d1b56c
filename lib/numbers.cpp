#include "lumlib/numbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace lumlib {

namespace {

// Past this many groups the first one takes the extra digits.
constexpr int kMaxGroups = 5;

// The longest text numToStr2 writes, without its terminator.
constexpr int kMaxText = 26;

// Writes the digits with ',' before every group of three counted from the
// right, then a terminator.
void write_grouped(char *out, const char *digits, int len)
{
    int groups = std::min(kMaxGroups, (len + 2) / 3);
    int first = len - 3 * (groups - 1);
    out = std::copy(digits, digits + first, out);
    for (const char *group = digits + first; group < digits + len; group += 3) {
        *out++ = ',';
        out = std::copy(group, group + 3, out);
    }
    *out = '\0';
}

// The text for a value whose digits do not fit in kMaxText characters,
// or null when they do.
const char *text_without_digits(double value, double whole)
{
    if (std::isnan(value))
        return "nan";
    if (whole >= 1e22)  // a first group of eleven digits
        return "overflow";
    if (whole <= -1e25)  // 26 digits after the sign
        return "-overflow";
    return nullptr;
}

}  // namespace

char *numToStr(int value, char *buf)
{
    // In unsigned arithmetic, so that INT_MIN has a magnitude too.
    unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    char digits[10];
    char *end = std::to_chars(digits, digits + sizeof digits, magnitude).ptr;
    buf[0] = value < 0 ? '-' : ' ';
    write_grouped(buf + 1, digits, static_cast<int>(end - digits));
    return buf;
}

// The digits come from the exact integer part, not from a floating-point
// split into groups, which can round 32999999999.999996 up to 33 billion.
// Adding 0.0 turns the -0.0 of a small negative value into 0.
char *numToStr2(double value, char *buf)
{
    double whole = std::trunc(value) + 0.0;
    if (const char *text = text_without_digits(value, whole))
        return std::strcpy(buf, text);
    char digits[kMaxText];
    char *end = std::to_chars(digits, digits + sizeof digits, whole, std::chars_format::fixed, 0).ptr;
    if (whole < 0)
        *std::copy(digits, end, buf) = '\0';
    else
        write_grouped(buf, digits, static_cast<int>(end - digits));
    return buf;
}

}  // namespace lumlib
