#include "progress_view.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "system.h"

namespace lumtar {
namespace {

// A short conversion looks as it always did.
constexpr std::chrono::seconds kQuietStart{1};
// The throughput of the last two seconds: recent enough to follow a disk
// that slows down, long enough not to flicker.
constexpr std::size_t kRecentSamples = 9;

}  // namespace

bool progress_wanted()
{
    static const bool wanted = [] {
        const char *setting = std::getenv("LUMTAR_PROGRESS");
        return sys::error_terminal_width() > 0 && (setting == nullptr || std::strcmp(setting, "0") != 0);
    }();
    return wanted;
}

ProgressView::ProgressView(ProgressFigures figures, Clock::time_point start)
    : figures_(std::move(figures)), start_(start), recent_{{start_, 0}}
{
}

void ProgressView::update(std::int64_t done)
{
    Clock::time_point now = Clock::now();
    recent_.push_back({now, done});
    if (recent_.size() > kRecentSamples)
        recent_.pop_front();
    int width = sys::error_terminal_width();
    if (now - start_ < kQuietStart || width <= 0)
        return;
    std::chrono::duration<double> span = now - recent_.front().at;
    figures_.done = done;
    figures_.rate = span.count() > 0 ? static_cast<double>(done - recent_.front().done) / span.count() : 0;
    std::string line = progress_line(figures_, width);
    // A shorter line covers what is left of the longer one before it.
    std::size_t length = line.size();
    if (length < drawn_)
        line.append(drawn_ - length, ' ');
    sys::write_to_error_terminal("\r" + line);
    drawn_ = length;
}

// The whole width, and not only the line: the terminal may have echoed
// something after it, such as the "^C" of an interruption.
void ProgressView::erase()
{
    int width = sys::error_terminal_width();
    if (drawn_ > 0 && width > 0)
        sys::write_to_error_terminal("\r" + std::string(static_cast<std::size_t>(width - 1), ' ') + "\r");
    drawn_ = 0;
}

}  // namespace lumtar
