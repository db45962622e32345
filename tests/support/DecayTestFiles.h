#pragma once
// Telemetry files whose beam signal follows an exponential, and what the decay fit's projection
// says about each, as the file summary shows them.

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/telemetry/TelemetryFormat.h"
#include "support/TelemetryTestData.h"

namespace corvane3::testing {

struct DecayFileCase {
    const char* name;
    int records;
    double intervalSeconds;
    double percentPerDay;     // of the signal; negative falls
    const char* decayPrefix;  // how the decay line starts
    const char* projection;   // the line under it
};

// Each starts at MJD 60000.0 (2023-02-25).
inline const std::vector<DecayFileCase>& DecayFileCases() {
    static const std::vector<DecayFileCase> cases{
        {"two minutes", 13, 10.0, -1.0, "Decay = -", "Fit over 2 minutes: too short to project"},
        {"warm-up, minutes", 91, 10.0, 2200.0, "Decay = +",
         "Fit over 15 minutes: too short to project"},
        {"warm-up, days", 61, 7200.0, 5.0, "Decay = +", "signal rising: no end of life in sight"},
        {"century", 161, 21600.0, -0.001, "Decay = -", "Signal halves in more than 100 years"},
        // 2 % a day: halves 34 days after the last record.
        {"a week", 8, 86400.0, 100.0 * std::log(0.98), "Decay = -2.02027 %/day",
         "Signal halves by 2023-04-07 (in 34 days)"},
    };
    return cases;
}

inline void WriteDecayFile(const std::filesystem::path& path, const DecayFileCase& c) {
    // A large clock level, so that a slow decay still moves it by many counts.
    constexpr double kClockLevel = 1e6;
    std::ofstream out(path, std::ios::binary);
    out << TelemetryHeaderLine(kModelTq9000) << kTelemetryLineEnd;
    for (int i = 0; i < c.records; ++i) {
        UnitStateData data = SampleRecord();
        const double days = i * c.intervalSeconds / 86400.0;
        data.mjd = 60000.0 + days;
        data.d1.cLevel = static_cast<std::int32_t>(
            std::lround(kClockLevel * std::exp(c.percentPerDay / 100.0 * days)));
        out << TelemetryRecordLine(data, kModelTq9000) << kTelemetryLineEnd;
    }
}

}  // namespace corvane3::testing
