// Wall clock and time of day.
#pragma once

#include <ctime>
#include <string>

// Local time of day as "hh:mm:ss"; empty when the conversion fails.
[[nodiscard]] std::string rt_time_string();
// The same text for a broken-down time.
[[nodiscard]] std::string rt_format_time_of_day(const std::tm& t);
// Seconds since the Unix epoch with microsecond resolution; wall-clock, so it moves with the system clock.
[[nodiscard]] double rt_timer();
