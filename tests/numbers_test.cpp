#include "lumlib/numbers.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// Runs a routine on a heap buffer of exactly the documented size, so that
// the sanitizer build catches any byte written past it.
template <typename Value>
std::string format_in(char *(*routine)(Value, char *), Value value, size_t buffer_size)
{
    std::vector<char> buf(buffer_size);
    EXPECT_EQ(routine(value, buf.data()), buf.data());
    return buf.data();
}

// The model: the decimal digits of the magnitude, a ',' before every three
// counted from the right, at most five groups (the first takes the rest).
std::string grouped(std::uint64_t magnitude)
{
    std::string text = std::to_string(magnitude);
    for (size_t at = text.size(), groups = 1; at > 3 && groups < 5; at -= 3, ++groups)
        text.insert(at - 3, ",");
    return text;
}

// The n-th whole number whose groups of three digits are each 0, 1, 12 or 999
// (the base-4 digits of n): zero padding, thresholds and the values just
// below them. Those below 4 to the power g have up to g groups.
std::uint64_t whole_of(int n)
{
    constexpr std::uint64_t kGroups[] = {0, 1, 12, 999};
    std::uint64_t whole = 0;
    for (std::uint64_t scale = 1; n > 0; n /= 4, scale *= 1000)
        whole += kGroups[n % 4] * scale;
    return whole;
}

// numToStr: a sign column, then the grouped magnitude; over every whole
// value in reach of an int. numToStr2: truncated toward zero; negative
// values with plain digits. Up to six groups, past 1e15 where the first
// group takes the extra digits; the int limits; a value just below a
// multiple of a billion, where a floating-point split of the groups rounds
// up. Past the model's 64 bits, rows: the largest texts, and what is too
// large for the buffer.
TEST(NumToStr, EveryGroupPatternWithEveryKindOfFractionBothSignsAndTheLargest)
{
    std::vector<std::pair<double, std::string>> rows = {
        {2147483648e12, "2147483648,000,000,000,000"}, {std::nextafter(1e22, 0.0), "9999999999,999,997,902,848"},
        {std::nextafter(-1e25, 0.0), "-9999999999999998758486016"},
        {1e22, "overflow"}, {HUGE_VAL, "overflow"}, {-1e25, "-overflow"}, {-HUGE_VAL, "-overflow"}, {NAN, "nan"}};
    std::vector<double> values{INT_MAX, INT_MIN, INT_MAX + 0.75, INT_MIN - 0.75, INT_MIN - 1.0, 32999999999.999996};
    for (int n = 0; n < 4 * 4 * 4 * 4 * 4 * 4; ++n) {
        const double whole = static_cast<double>(whole_of(n));
        values.insert(values.end(), {whole, whole + 0.5, std::nextafter(whole + 1, 0.0)});
    }
    for (double value : values)
        for (double v : {value, -value}) {
            const std::string magnitude = grouped(static_cast<std::uint64_t>(std::fabs(v)));
            if (v == std::trunc(v) && v >= INT_MIN && v <= INT_MAX) {
                ASSERT_EQ(format_in(lumlib::numToStr, static_cast<int>(v), 15), (v < 0 ? "-" : " ") + magnitude) << v;
            }
            rows.emplace_back(v, v <= -1 ? "-" + std::to_string(static_cast<std::uint64_t>(-v)) : magnitude);
        }
    for (const auto &[value, text] : rows)
        ASSERT_EQ(format_in(lumlib::numToStr2, value, 27), text) << std::to_string(value);
}

}  // namespace
