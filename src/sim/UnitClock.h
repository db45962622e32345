#pragma once
// The simulated unit's clocks: seconds since 1970 from the system clock, broken down in UTC, and
// the two ways the unit writes a date and time.

#include <cstdint>
#include <ctime>
#include <string>

namespace corvane3::sim {

inline constexpr int kSecondsPerDay = 86400;

std::int64_t SystemSeconds();
std::tm Broken(std::int64_t seconds);
// "mm/dd/yy hh:mm:ss", as event log lines have it.
std::string DateTimeText(std::int64_t seconds);
// "yyyy/mm/dd hh:mm:ss": the unit reports its clock year first, so the date reads as a time of
// day and not as a running time.
std::string ClockText(std::int64_t seconds);

}  // namespace corvane3::sim
