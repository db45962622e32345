#include "core/plot/Statistics.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "core/base/CLocale.h"
#include "core/base/Mjd.h"

namespace corvane3 {

namespace {
// Below this share of the mean, sigma counts as no spread at all.
constexpr double kNearConstantShare = 0.00001;
// Nearly constant data is shown this share either side of its mean.
constexpr double kNearConstantMargin = 0.03;
// The half-height of the range for data that is constantly zero.
constexpr double kZeroHalfRange = 0.11;
}  // namespace

YRange ScaleRange(const ChannelStatistics& stats, std::int32_t yScale) {
    const double mean = stats.mean;
    const double sigma = stats.sigma;
    if (std::fabs(kNearConstantShare * mean) >= sigma) {
        if (mean == 0.0) {
            return {-kZeroHalfRange, kZeroHalfRange};
        }
        const double low = (1.0 - kNearConstantMargin) * mean;
        const double high = (1.0 + kNearConstantMargin) * mean;
        return mean > 0.0 ? YRange{low, high} : YRange{high, low};
    }
    switch (yScale) {
        case kYScaleAll:
            return {stats.min, stats.max};
        case kYScaleOneSigma:
            return {mean - sigma, mean + sigma};
        case kYScaleThreeSigma:
            return {mean - 3.0 * sigma, mean + 3.0 * sigma};
        case kYScaleSixSigma:
            return {mean - 6.0 * sigma, mean + 6.0 * sigma};
        default:
            return {stats.min - sigma, stats.max + sigma};
    }
}

EHalfLifeOutlook HalfLifeOutlook(const DecayFit& fit) {
    if (!fit.valid) {
        return EHalfLifeOutlook::kNoFit;
    }
    if (fit.spanDays < kShortestProjectionDays) {
        return EHalfLifeOutlook::kTooShort;
    }
    if (fit.slope > 0.0) {
        return EHalfLifeOutlook::kRising;
    }
    // ln(S) falls by ln 2 in ln 2 / -slope days; a flat fit never halves.
    return std::log(2.0) > -fit.slope * kLongestDatedHalfLifeDays ? EHalfLifeOutlook::kBeyondCentury
                                                                  : EHalfLifeOutlook::kDated;
}

std::optional<double> HalfLifeMjd(const DecayFit& fit, double lastFittedMjd) {
    const EHalfLifeOutlook outlook = HalfLifeOutlook(fit);
    if ((outlook != EHalfLifeOutlook::kDated && outlook != EHalfLifeOutlook::kBeyondCentury) ||
        !(fit.slope < 0.0) || std::isnan(lastFittedMjd)) {
        return std::nullopt;
    }
    const double days = std::log(2.0) / -fit.slope;
    // Far beyond any calendar a person plans with; also keeps the date arithmetic in range.
    constexpr double kLongestProjectionDays = 1.0e6;
    if (days > kLongestProjectionDays) {
        return std::nullopt;
    }
    return lastFittedMjd + days;
}

namespace {
// A span below a few days, in the unit that reads best: "40 seconds", "15 minutes", "69.6 hours".
std::string ShortSpanText(double days) {
    constexpr double kSecondsPerDay = 86400.0;
    constexpr double kSecondsShownUpTo = 120.0;
    constexpr double kMinutesShownUpTo = 2.0 * 3600.0;
    const double seconds = days * kSecondsPerDay;
    char text[48];
    if (seconds < kSecondsShownUpTo) {
        const long whole = std::lround(seconds);
        std::snprintf(text, sizeof text, "%ld second%s", whole, whole == 1 ? "" : "s");
    } else if (seconds < kMinutesShownUpTo) {
        std::snprintf(text, sizeof text, "%ld minutes", std::lround(seconds / 60.0));
    } else {
        const CScopedCLocale numbers;
        std::snprintf(text, sizeof text, "%.1f hours", seconds / 3600.0);
    }
    return text;
}
}  // namespace

std::string HalfLifeProjection(const DecayFit& fit, double lastFittedMjd) {
    switch (HalfLifeOutlook(fit)) {
        case EHalfLifeOutlook::kNoFit:
            return {};
        case EHalfLifeOutlook::kTooShort:
            return "Fit over " + ShortSpanText(fit.spanDays) + ": too short to project";
        case EHalfLifeOutlook::kRising:
            return "signal rising: no end of life in sight";
        case EHalfLifeOutlook::kBeyondCentury:
            return "Signal halves in more than 100 years";
        case EHalfLifeOutlook::kDated:
            break;
    }
    const std::optional<double> when = HalfLifeMjd(fit, lastFittedMjd);
    if (!when) {
        return {};  // no time of the last point
    }
    const double whenMjd = *when;
    const double days = whenMjd - lastFittedMjd;
    using namespace std::chrono;
    const auto day = static_cast<long>(std::floor(whenMjd - kMjdOfUnixEpoch));
    const year_month_day date{sys_days{std::chrono::days{day}}};
    char text[96];
    std::snprintf(text, sizeof text, "Signal halves by %04d-%02u-%02u (in %ld days)",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), std::lround(days));
    return text;
}

std::string DecayText(double slope) {
    char text[64];
    const CScopedCLocale numbers;
    std::snprintf(text, sizeof text, "Decay = %+g %%/day", slope * 100.0);
    return text;
}

void CLineFitSums::Add(double days, double value) {
    AddMean(days, value, 1, days, days);
}

void CLineFitSums::AddMean(double days, double value, std::size_t count, double earliest,
                           double latest) {
    if (count == 0 || !std::isfinite(days) || !std::isfinite(value)) {
        return;
    }
    if (count_ == 0) {
        shiftX_ = days;
        shiftY_ = value;
        minX_ = earliest;
        maxX_ = latest;
    }
    minX_ = std::min(minX_, earliest);
    maxX_ = std::max(maxX_, latest);
    const double n = static_cast<double>(count);
    const double dx = days - shiftX_;
    const double dy = value - shiftY_;
    x_ += n * dx;
    y_ += n * dy;
    xx_ += n * dx * dx;
    xy_ += n * dx * dy;
    count_ += count;
}

void CLineFitSums::Merge(const CLineFitSums& later) {
    if (later.count_ == 0) {
        return;
    }
    if (count_ == 0) {
        *this = later;
        return;
    }
    minX_ = std::min(minX_, later.minX_);
    maxX_ = std::max(maxX_, later.maxX_);
    const double dx = later.shiftX_ - shiftX_;
    const double dy = later.shiftY_ - shiftY_;
    const double n = static_cast<double>(later.count_);
    xx_ += later.xx_ + 2.0 * dx * later.x_ + n * dx * dx;
    xy_ += later.xy_ + dx * later.y_ + dy * later.x_ + n * dx * dy;
    x_ += later.x_ + n * dx;
    y_ += later.y_ + n * dy;
    count_ += later.count_;
}

LineFit CLineFitSums::Result() const {
    LineFit fit;
    const double n = static_cast<double>(count_);
    const double sxx = xx_ - x_ * x_ / n;
    if (count_ < 2 || !(sxx > 0.0)) {
        return fit;
    }
    fit.valid = true;
    fit.slope = (xy_ - x_ * y_ / n) / sxx;
    fit.intercept = (shiftY_ + y_ / n) - fit.slope * (shiftX_ + x_ / n);
    fit.spanDays = maxX_ - minX_;
    return fit;
}

DecayFit CDecayFitSums::Result() const {
    const LineFit line = line_.Result();
    DecayFit fit;
    fit.text = kNoDecayText;
    if (!line.valid) {
        return fit;
    }
    fit.valid = true;
    fit.slope = line.slope;
    fit.intercept = line.intercept;
    fit.text = DecayText(fit.slope);
    fit.spanDays = line.spanDays;
    return fit;
}

}  // namespace corvane3
