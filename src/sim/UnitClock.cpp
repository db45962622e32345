#include "sim/UnitClock.h"

#include <chrono>
#include <cstdio>

namespace corvane3::sim {

std::int64_t SystemSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::tm Broken(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    return tm;
}

std::string DateTimeText(std::int64_t seconds) {
    const std::tm tm = Broken(seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d", tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_year % 100, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

std::string ClockText(std::int64_t seconds) {
    const std::tm tm = Broken(seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

}  // namespace corvane3::sim
