#include "rt/clock.h"

#include <cstdio>
#include <sys/time.h>

std::string rt_format_time_of_day(const std::tm& t) {
    char buf[32];
    int n = std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

std::string rt_time_string() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!localtime_r(&now, &local)) return {};
    return rt_format_time_of_day(local);
}

double rt_timer() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return (static_cast<double>(tv.tv_sec) * 1e6 + static_cast<double>(tv.tv_usec)) * 1e-6;
}
