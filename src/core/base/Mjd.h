#pragma once
// Modified Julian dates, the unit's and the telemetry files' time stamps, and the PC clock's
// seconds since 1970-01-01 00:00 UTC.

namespace corvane3 {

inline constexpr double kSecondsPerDay = 86400.0;
// The modified Julian date of 1970-01-01 00:00 UTC.
inline constexpr double kMjdOfUnixEpoch = 40587.0;

inline double ModifiedJulianDate(double secondsSince1970) {
    return secondsSince1970 / kSecondsPerDay + kMjdOfUnixEpoch;
}

inline double SecondsSince1970(double modifiedJulianDate) {
    return (modifiedJulianDate - kMjdOfUnixEpoch) * kSecondsPerDay;
}

}  // namespace corvane3
