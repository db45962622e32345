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

std::optional<double> HalfLifeMjd(const DecayFit& fit, double lastFittedMjd) {
    if (!fit.valid || !(fit.slope < 0.0) || std::isnan(lastFittedMjd)) {
        return std::nullopt;
    }
    // ln(S) falls by ln 2 in ln 2 / -slope days.
    const double days = std::log(2.0) / -fit.slope;
    // Far beyond any calendar a person plans with; also keeps the date arithmetic in range.
    constexpr double kLongestProjectionDays = 1.0e6;
    if (days > kLongestProjectionDays) {
        return std::nullopt;
    }
    return lastFittedMjd + days;
}

std::string HalfLifeProjection(const DecayFit& fit, double lastFittedMjd) {
    const std::optional<double> when = HalfLifeMjd(fit, lastFittedMjd);
    if (!when) {
        return {};
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

void CRunningDecayFit::Add(double days, double signal) {
    if (!(signal > 0.0) || std::isnan(days)) {
        return;
    }
    const double y = std::log(signal);
    minX_ = count_ == 0 ? days : std::min(minX_, days);
    maxX_ = count_ == 0 ? days : std::max(maxX_, days);
    ++count_;
    const double n = static_cast<double>(count_);
    const double dx = days - meanX_;
    meanX_ += dx / n;
    meanY_ += (y - meanY_) / n;
    sxx_ += dx * (days - meanX_);
    sxy_ += dx * (y - meanY_);
}

void CRunningDecayFit::Merge(const CRunningDecayFit& other) {
    if (other.count_ == 0) {
        return;
    }
    if (count_ == 0) {
        *this = other;
        return;
    }
    minX_ = std::min(minX_, other.minX_);
    maxX_ = std::max(maxX_, other.maxX_);
    const double a = static_cast<double>(count_);
    const double b = static_cast<double>(other.count_);
    const double n = a + b;
    const double dx = other.meanX_ - meanX_;
    const double dy = other.meanY_ - meanY_;
    sxx_ += other.sxx_ + dx * dx * a * b / n;
    sxy_ += other.sxy_ + dx * dy * a * b / n;
    meanX_ += dx * b / n;
    meanY_ += dy * b / n;
    count_ += other.count_;
}

DecayFit CRunningDecayFit::Result() const {
    DecayFit fit;
    fit.text = kNoDecayText;
    if (count_ < 2 || sxx_ == 0.0) {
        return fit;
    }
    fit.valid = true;
    fit.slope = sxy_ / sxx_;
    fit.intercept = meanY_ - fit.slope * meanX_;
    fit.text = DecayText(fit.slope);
    return fit;
}

std::string DecayText(double slope) {
    char text[64];
    const CScopedCLocale numbers;
    std::snprintf(text, sizeof text, "Decay = %+g %%/day", slope * 100.0);
    return text;
}

}  // namespace corvane3
