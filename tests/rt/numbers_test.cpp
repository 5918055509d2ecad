#include "rt/clock.h"
#include "rt/numbers.h"
#include "rt/result.h"
#include "rt/runtime.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <string>

namespace {

struct FormatRow {
    double value;
    const char* one_decimal;  // "0.#"
    const char* two_decimals; // "0.##"
};

// The two masks the panel uses, over the values where rounding and digit handling go wrong first.
const FormatRow format_table[] = {
    {0, "0.", "0."},
    {2, "2.", "2."},
    {2.5, "2.5", "2.5"},
    {2.25, "2.2", "2.25"},
    {2.345, "2.3", "2.34"},
    {2.346, "2.3", "2.35"},
    {0.125, "0.1", "0.12"},
    {0.5, "0.5", "0.5"},
    {0.045, "0.", "0.04"},
    {0.06, "0.", "0.06"},
    {0.009, "0.", "0."},
    {0.999, "1.", "1."},
    {9.96, "10.", "9.96"},
    {99.99, "100.", "99.99"},
    {123456, "123456.", "123456."},
    {-2.5, "-2.5", "-2.5"},
    {-0.5, "-0.5", "-0.5"},
    {-0.04, "0.", "-0.04"},
    {1E22, "10000000000000000000000.", "10000000000000000000000."},
};

void expect_format_table() {
    for (const FormatRow& r : format_table) {
        EXPECT_EQ(rt_format_number(r.value, "0.#"), r.one_decimal) << r.value;
        EXPECT_EQ(rt_format_number(r.value, "0.##"), r.two_decimals) << r.value;
    }
}

TEST(FormatNumber, SystemMasks) {
    expect_format_table();
}

TEST(FormatNumber, OtherMasks) {
    struct Case {
        double value;
        const char* mask;
        const char* text;
    } const cases[] = {
        {0.5, "#.##", ".5"},     {7, "000", "007"},
        {7.2, "00.00", "07.20"}, {1234.5, "0", "1234"},
        {2.5, "0", "2"},         {2.51, "0", "3"},
        {-2.51, "0", "-3"},      {3, ".", "3."},
        {0.75, "#.#", ".7"},     {1.0e19, "0", "10000000000000000000"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(rt_format_number(c.value, c.mask), c.text) << c.value << " " << c.mask;
}

TEST(FormatNumber, UnusableMasksGiveEmptyText) {
    for (const char* mask : {"", "0.0.0", "0,0", "0%", "x"}) {
        EXPECT_EQ(rt_format_number(1.5, mask), "") << mask;
        EXPECT_EQ(rt_last_error(), RT_NOT_ALLOWED) << mask;
    }
    EXPECT_EQ(rt_format_number(NAN, "0.#"), "");
    EXPECT_EQ(rt_format_number(INFINITY, "0.#"), "");
    EXPECT_EQ(rt_format_number(1.5, "0.#"), "1.5");
    EXPECT_EQ(rt_last_error(), RT_OK);
}

TEST(ParseNumber, Table) {
    struct Case {
        const char* text;
        double value;
    } const cases[] = {
        {".045 ", 0.045}, {"2.3 m", 2.3}, {"  12", 12},  {"-5", -5},          {"", 0},
        {".", 0},         {"abc", 0},     {"0x1A", 0},   {"&H1A", 26},        {"&h1a", 26},
        {"&O17", 15},     {"&17", 15},    {"&B101", 5},  {"&B102", 2},        {"&", 0},
        {"1D3", 1000},    {"1d3", 1000},  {"1E3", 1000}, {"1e", 1},           {"1e+", 1},
        {"1,5", 1},       {"+7.5", 7.5},  {"   ", 0},    {"\t5", 0},          {"12.", 12},
        {"inf", 0},       {"nan", 0},     {"-0x10", 0},  {"0.045 ms", 0.045}, {"113.34 ms", 113.34},
    };
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(rt_parse_number(c.text), c.value) << '"' << c.text << '"';
    EXPECT_TRUE(std::isinf(rt_parse_number("1e999")));
    EXPECT_EQ(rt_parse_number("1e-999"), 0);
}

// Beyond the range of a double the direction comes from the number's size: an infinity for a huge one, a
// zero for a tiny one, whatever the sign of the exponent.
TEST(ParseNumber, OutOfRangeKeepsItsDirection) {
    const std::string zeros(400, '0');
    struct Case {
        std::string text;
        double value;
    };
    const Case cases[] = {
        {"0." + zeros + "1", 0.0},
        {"-0." + zeros + "1", -0.0},
        {"1" + zeros + "e-5", HUGE_VAL},
        {"-1" + zeros + "e-5", -HUGE_VAL},
        {"1" + zeros, HUGE_VAL},
        {zeros + "1" + zeros + ".5 ms", HUGE_VAL},
        {"1e999", HUGE_VAL},
        {"1e-999", 0.0},
        {"100e-400", 0.0},
        {"0.00001e400", HUGE_VAL},
        {"0.00001D+400", HUGE_VAL},
        {"12e99999999999999999999999", HUGE_VAL},
        {"12e-99999999999999999999999", 0.0},
        {"0." + zeros + "1e700", 1e299},
        {"1" + zeros + "e-00", HUGE_VAL},
        {"-1" + zeros + "d-50", -HUGE_VAL},
        {"1" + zeros + "e-92", 1e308},
        {"1" + zeros + ".5e-800", 0.0},
        {"1" + zeros + ".5e-500", 1e-100},
        {"0." + zeros + "1e+1", 0.0},
        {"0." + zeros + "1e500", 1e99},
        {"0.01e310", 1e308},
        {"0.01e311", HUGE_VAL},
        {"000000" + std::string("1") + zeros + "e-99999999999999999999999", 0.0},
        {"-0.000e99999", -0.0},
    };
    for (const Case& c : cases) {
        const double got = rt_parse_number(c.text);
        const std::string shown = c.text.size() > 40 ? c.text.substr(0, 20) + "..." : c.text;
        if (std::isinf(c.value)) {
            EXPECT_EQ(got, c.value) << shown;
        } else {
            EXPECT_DOUBLE_EQ(got, c.value) << shown;
            EXPECT_EQ(std::signbit(got), std::signbit(c.value)) << shown;
        }
    }
}

TEST(IntToString, SignedAndUnsigned) {
    EXPECT_EQ(rt_int_to_string(-7), "-7");
    EXPECT_EQ(rt_int_to_string(3), "3");
    EXPECT_EQ(rt_uint_to_string(3), "3");
    EXPECT_EQ(rt_int_to_string(INT32_MIN), "-2147483648");
    EXPECT_EQ(rt_uint_to_string(UINT32_MAX), "4294967295");
}

TEST(Clock, TimeOfDay) {
    std::tm t{};
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 3;
    EXPECT_EQ(rt_format_time_of_day(t), "09:05:03");
    t.tm_hour = 23;
    t.tm_min = 59;
    t.tm_sec = 59;
    EXPECT_EQ(rt_format_time_of_day(t), "23:59:59");

    // Bracket the call so a second boundary cannot make the test flaky.
    std::time_t before = std::time(nullptr);
    std::string now = rt_time_string();
    std::time_t after = std::time(nullptr);
    std::tm a{}, b{};
    localtime_r(&before, &a);
    localtime_r(&after, &b);
    EXPECT_TRUE(now == rt_format_time_of_day(a) || now == rt_format_time_of_day(b)) << now;
}

TEST(Clock, TimerIsWallClockSeconds) {
    std::time_t before = std::time(nullptr);
    double t = rt_timer();
    std::time_t after = std::time(nullptr);
    // time() reads the kernel's coarse clock, which may run up to a tick ahead of the fine one at a second's
    // turn: a second of slack on each side still tells seconds since the epoch from anything else.
    EXPECT_GE(t, static_cast<double>(before) - 1);
    EXPECT_LT(t, static_cast<double>(after) + 1);
}

// Under a German locale the decimal point must stay ".", both for formatting and for parsing tool output.
TEST(Locale, GermanSettingsKeepThePoint) {
    const char* german = "de_DE.UTF-8";
    if (!std::setlocale(LC_ALL, german)) GTEST_SKIP() << german << " is not installed";
    ::setenv("LC_ALL", german, 1);
    rt_init(0, nullptr);
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), german);
    expect_format_table();
    EXPECT_DOUBLE_EQ(rt_parse_number("12.34 ms"), 12.34);

    // Even a library that switches the numeric locale behind our back changes nothing.
    std::setlocale(LC_NUMERIC, german);
    expect_format_table();
    EXPECT_DOUBLE_EQ(rt_parse_number("12.34 ms"), 12.34);
    EXPECT_DOUBLE_EQ(rt_parse_number("1,5"), 1);
    std::setlocale(LC_ALL, "C");
    ::unsetenv("LC_ALL");
}

} // namespace
