#include "progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace lumtar {
namespace {

// Bytes in binary units, with one decimal from KiB on; the unit grows
// before the figure would round to 1024.
std::string binary_size(double bytes)
{
    static const char *const units[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    char text[32];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%.0f B", bytes);
        return text;
    }
    std::size_t unit = 1;
    for (bytes /= 1024; unit + 1 < std::size(units) && std::round(bytes * 10) >= 10240; ++unit)
        bytes /= 1024;
    std::snprintf(text, sizeof text, "%.1f %s", bytes, units[unit]);
    return text;
}

// "m:ss", or "h:mm:ss" from an hour on; "--:--" when it cannot be told
// (nothing moved lately) or would say nothing useful.
std::string time_left(double seconds)
{
    if (!(seconds >= 0 && seconds < 100 * 3600))
        return "--:--";
    long s = std::lround(seconds);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

// A name may hold any byte: control characters would move the cursor, and
// other bytes would show as the terminal's code page reads them.
std::string printable(std::string name)
{
    for (char &c : name)
        if (c < 0x20 || c > 0x7e)
            c = '?';
    return name;
}

}  // namespace

std::string progress_line(const ProgressFigures &figures, int width)
{
    // A file that grew meanwhile has more than was planned.
    double done = static_cast<double>(figures.done);
    double total = static_cast<double>(std::max(figures.total, figures.done));
    std::string place =
        figures.files > 1 ? std::to_string(figures.place) + "/" + std::to_string(figures.files) + " " : "";
    std::string numbers = "\" " + binary_size(done) + " of " + binary_size(total) + " (" +
        std::to_string(total > 0 ? static_cast<int>(done * 100 / total) : 100) + "%), " +
        binary_size(figures.rate) + "/s, " +
        time_left(figures.rate > 0 ? (total - done) / figures.rate : -1) + " left";
    std::string name = printable(figures.name);
    int columns = std::max(width - 3, 0);
    std::ptrdiff_t room = columns - 1 - static_cast<std::ptrdiff_t>(place.size() + numbers.size());
    std::size_t name_room = static_cast<std::size_t>(std::max<std::ptrdiff_t>(room, 4));
    if (name.size() > name_room)
        name = "..." + name.substr(name.size() - (name_room - 3));
    std::string line = place + "\"" + name + numbers;
    line.resize(std::min<std::size_t>(line.size(), static_cast<std::size_t>(columns)));
    return line;
}

}  // namespace lumtar
