#include "lumlib/numbers.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>

namespace {

using lumlib::numToStr;
using lumlib::numToStr2;

// Runs a routine on a heap buffer of exactly the documented size, so that
// the sanitizer build catches any byte written past it.
template <typename Value>
std::string format_in(char *(*routine)(Value, char *), Value value, size_t buffer_size)
{
    auto buf = std::make_unique<char[]>(buffer_size);
    EXPECT_EQ(routine(value, buf.get()), buf.get());
    EXPECT_LT(std::strlen(buf.get()), buffer_size);
    return buf.get();
}

std::string num(int value) { return format_in(numToStr, value, 15); }
std::string num2(double value) { return format_in(numToStr2, value, 27); }

// The model: decimal digits by the standard library, a ',' before every
// three from the right, at most five groups.
std::string grouped(std::uint64_t value)
{
    std::string digits = std::to_string(value);
    std::string text;
    size_t groups = std::min<size_t>(5, (digits.size() + 2) / 3);
    size_t first = digits.size() - 3 * (groups - 1);
    text = digits.substr(0, first);
    for (size_t at = first; at < digits.size(); at += 3)
        text += "," + digits.substr(at, 3);
    return text;
}

TEST(NumToStr, SignColumnAndGroups)
{
    struct Case {
        int value;
        const char *text;
    } cases[] = {
        {0, " 0"},
        {999, " 999"},
        {1000, " 1,000"},
        {1002003004, " 1,002,003,004"},
        {INT_MAX, " 2,147,483,647"},
        {-1, "-1"},
        {-1000, "-1,000"},
        {INT_MIN, "-2,147,483,648"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(num(c.value), c.text) << c.value;
    EXPECT_EQ(num(INT_MIN).size(), 14u);
}

TEST(NumToStr, AgreesWithTheModelOnRandomValues)
{
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> any(INT_MIN, INT_MAX);
    for (int i = 0; i < 3000; ++i) {
        int value = any(rng) >> (i % 31);  // every magnitude, both signs
        std::int64_t wide = value;
        std::string expected = (value < 0 ? "-" : " ") + grouped(static_cast<std::uint64_t>(wide < 0 ? -wide : wide));
        ASSERT_EQ(num(value), expected) << value;
    }
}

TEST(NumToStr2, ListedCases)
{
    struct Case {
        double value;
        const char *text;
    } cases[] = {
        {999.99, "999"},
        {1000.0, "1,000"},
        {1234.5678, "1,234"},
        {999999.999, "999,999"},
        {1000000.0, "1,000,000"},
        {1234567.89, "1,234,567"},
        {2999999.5, "2,999,999"},
        {1000000000.0, "1,000,000,000"},
        {999999999999.5, "999,999,999,999"},
        {1000000000000.0, "1,000,000,000,000"},
        {1234567890123.0, "1,234,567,890,123"},
        {-1.5, "-1"},
        {-0.5, "0"},
        {-0.0, "0"},
        {0.0, "0"},
        {0.9999, "0"},
        {5e-324, "0"},
        {-1234567.0, "-1234567"},
        {1e15, "1000,000,000,000,000"},
        // The floating-point split of groups printed this as 33,000,000,000.
        {32999999999.999996, "32,999,999,999"},
        {999999999999999.9, "999,999,999,999,999"},
        {9007199254740993.0, "9007,199,254,740,992"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(num2(c.value), c.text) << c.value;
}

TEST(NumToStr2, ThresholdsBelongToTheLargerRow)
{
    struct Case {
        double threshold;
        const char *at;
        const char *below;
    } cases[] = {
        {1e3, "1,000", "999"},
        {1e6, "1,000,000", "999,999"},
        {1e9, "1,000,000,000", "999,999,999"},
        {1e12, "1,000,000,000,000", "999,999,999,999"},
        {1e15, "1000,000,000,000,000", "999,999,999,999,999"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(num2(c.threshold), c.at);
        EXPECT_EQ(num2(std::nextafter(c.threshold, 0.0)), c.below) << "just below " << c.threshold;
        EXPECT_EQ(num2(c.threshold - 1), c.below) << "one below " << c.threshold;
    }
}

TEST(NumToStr2, IntLimitsAndBeyond)
{
    EXPECT_EQ(num2(INT_MAX), "2,147,483,647");
    EXPECT_EQ(num2(INT_MAX + 0.75), "2,147,483,647");
    EXPECT_EQ(num2(INT_MIN), "-2147483648");
    EXPECT_EQ(num2(INT_MIN - 0.75), "-2147483648");
    // Past the ends of int the digits stay exact.
    EXPECT_EQ(num2(INT_MAX + 1.0), "2,147,483,648");
    EXPECT_EQ(num2(INT_MIN - 1.0), "-2147483649");
    EXPECT_EQ(num2(2147483648e12), "2147483648,000,000,000,000");
}

TEST(NumToStr2, TextOutsideTheRangeFitsTwentySixCharacters)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        double value;
        const char *text;
    } cases[] = {
        {std::nextafter(1e22, 0.0), "9999999999,999,997,902,848"},
        {1e22, "overflow"},
        {DBL_MAX, "overflow"},
        {inf, "overflow"},
        {std::nextafter(-1e25, 0.0), "-9999999999999998758486016"},
        {-1e25, "-overflow"},
        {-DBL_MAX, "-overflow"},
        {-inf, "-overflow"},
        {nan, "nan"},
        {-nan, "nan"},
    };
    for (const auto &c : cases) {
        std::string text = num2(c.value);
        EXPECT_EQ(text, c.text) << c.value;
        EXPECT_LE(text.size(), 26u);
    }
}

// Whole values and values with a fraction, of every length up to 1e15, and
// values just below a multiple of a billion, where a floating-point split
// of the groups goes wrong.
TEST(NumToStr2, AgreesWithExactIntegerFormattingUpTo1e15)
{
    std::mt19937_64 rng(42);
    std::uniform_int_distribution<int> digits(1, 15);
    std::uniform_real_distribution<double> fraction(0.0, 1.0);
    for (int i = 0; i < 6000; ++i) {
        std::uint64_t limit = 1;
        for (int d = digits(rng); d > 0; --d)
            limit *= 10;
        auto whole = std::uniform_int_distribution<std::uint64_t>(0, limit - 1)(rng);
        double value = static_cast<double>(whole);
        if (i % 3 == 1)
            value += fraction(rng);
        else if (i % 3 == 2)
            value = std::nextafter(std::floor(value / 1e9 + 1) * 1e9, 0.0);
        if (value >= 1e15)
            continue;
        ASSERT_EQ(num2(value), grouped(static_cast<std::uint64_t>(value))) << std::to_string(value);
    }
}

TEST(NumToStr2, FiveGroupsAbove1e15AgreeWithTheModel)
{
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> exponent(15.0, 19.0);
    for (int i = 0; i < 2000; ++i) {
        double value = std::pow(10.0, exponent(rng));
        ASSERT_EQ(num2(value), grouped(static_cast<std::uint64_t>(value))) << std::to_string(value);
    }
}

}  // namespace
