#pragma once
// Each limited reading's trend over a telemetry file, and when it reaches its critical limit.
//
// The trend is a least-squares straight line in time. A tube's readings drift slowly over
// years: the electron-multiplier voltage is raised step by step as the multiplier's gain wears,
// the oven's heater and the supplies creep as parts age, the ion pump's current follows the
// vacuum. Over the months a projection is about, a line follows such a drift as well as any
// curve and, unlike an exponential or a polynomial, never runs away from data it was not fitted
// to; it needs no guess of a physical form that differs from unit to unit.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/plot/Statistics.h"
#include "core/telemetry/ReadingLimits.h"

namespace corvane3 {

struct ReadingTrend {
    CLineFitSums fit;  // over the MJDs of the records
    std::optional<double> lastMjd;
};

// Fits each limit's reading over the records among the first end bytes of a current-format
// .csd file; one trend per limit, in their order (empty trends for a reading the file lacks).
// Nothing when the file cannot be read or is not a current-format file. Stops early once stop
// is set. Blocks for as long as reading takes.
std::optional<std::vector<ReadingTrend>> ScanReadingTrends(const std::string& path,
                                                           const std::vector<ReadingLimit>& limits,
                                                           std::uint64_t end,
                                                           const std::atomic<bool>& stop);

enum class ELimitOutlook {
    kNoCriticalLimit,  // the reading has no critical bound at all
    kNoFit,
    kTooShort,      // the fit covers fewer than kShortestProjectionDays
    kMovingAway,    // the trend heads to no critical bound
    kReached,       // the trend is past the bound at the last record already
    kDated,         // within a century
    kBeyondCentury,
};

struct LimitProjection {
    ELimitOutlook outlook = ELimitOutlook::kNoFit;
    double limit = 0.0;          // the bound the trend heads for
    std::optional<double> mjd;   // when the trend reaches it (kDated, kReached)
    double spanDays = 0.0;
};

LimitProjection ProjectLimit(const ReadingLimit& limit, const ReadingTrend& trend);

// One line for --summary: "VEM reaches 33 V by 2031-04-02 (fit over 412 days)", or why there
// is no date; "" for a reading without a critical limit. unit is the reading's unit ("" none).
std::string LimitProjectionText(const ReadingLimit& limit, const LimitProjection& projection,
                                const std::string& unit);

}  // namespace corvane3
