#pragma once
// Statistics of a plotted channel: the Y range a pane shows for each Y scale, and the fit of the
// beam signal's exponential decay in percent per day. Pure computations over indexed values, so
// the plot window, the file summary and the tests share them whatever the store's layout.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace corvane3 {

// Y scale indices as the settings store them.
enum EYScale : std::int32_t {
    kYScaleAll = 0,
    kYScaleAllPlus = 1,
    kYScaleOneSigma = 2,
    kYScaleThreeSigma = 3,
    kYScaleSixSigma = 4,
};

struct ChannelStatistics {
    std::size_t count = 0;  // values taken (absent values are skipped)
    double min = 0.0;
    double max = 0.0;
    double mean = 0.0;
    double sigma = 0.0;  // population standard deviation (divisor count)
};

// Statistics kept value by value, so that a live series adds one point at a time and gets
// exactly the numbers a pass over all its values gives. Absent values (NaN) are skipped.
class CRunningStatistics {
  public:
    void Add(double y) {
        if (std::isnan(y)) {
            return;
        }
        if (count_ == 0 || y < min_) {
            min_ = y;
        }
        if (count_ == 0 || y > max_) {
            max_ = y;
        }
        if (count_ == 0 && std::isfinite(y)) {
            shift_ = y;
        }
        // Sums of deviations from the first value: the one-pass form below then keeps its digits
        // for readings with a large offset (15 V +- 10 mV), where sums of the values lose them.
        const double d = y - shift_;
        sum_ += d;
        sumOfSquares_ += d * d;
        ++count_;
    }
    ChannelStatistics Result() const {
        ChannelStatistics stats;
        stats.count = count_;
        if (count_ == 0) {
            return stats;
        }
        const double m = static_cast<double>(count_);
        stats.min = min_;
        stats.max = max_;
        const double meanDeviation = sum_ / m;
        stats.mean = shift_ + meanDeviation;
        // The one-pass form; the absolute value keeps rounding from giving a negative variance.
        stats.sigma = std::sqrt(std::fabs(
            (m * meanDeviation * meanDeviation + sumOfSquares_ - 2.0 * meanDeviation * sum_) / m));
        return stats;
    }

  private:
    std::size_t count_ = 0;
    double min_ = 0.0;
    double max_ = 0.0;
    double shift_ = 0.0;
    double sum_ = 0.0;
    double sumOfSquares_ = 0.0;
};

// Statistics gathered in pieces (each on any thread) and merged in value order, for series too
// long to hold. Mean and sigma stay exact to the last printed digits whatever the offset of the
// values: the sums are of deviations from one of the values (the first), never of the values
// themselves, so an offset of 2e9 under a spread of 1 loses nothing. Min and max are as
// CRunningStatistics finds them. Absent values (NaN) are skipped.
class CMergeableStatistics {
  public:
    void Add(double y) {
        if (std::isnan(y)) {
            return;
        }
        if (Count() == 0 || y < min_) {
            min_ = y;
        }
        if (Count() == 0 || y > max_) {
            max_ = y;
        }
        if (std::isinf(y)) {
            // Infinite readings make the mean infinite (or undefined when both signs came), as
            // a plain sum does; they take no part in the sums of deviations.
            firstInfinity_ = firstInfinity_ == 0.0 ? y : firstInfinity_;
            (y > 0.0 ? positiveInfinity_ : negativeInfinity_) = true;
            ++infinities_;
            return;
        }
        if (count_ == 0) {
            shift_ = y;
        }
        const double d = y - shift_;
        sum_ += d;
        squares_ += d * d;
        ++count_;
    }
    // Adds values[0] to values[count - 1] in order, as Add does one by one. After the first
    // finite value the block is taken in one loop in locals (the values could otherwise be the
    // members themselves, so each would be stored and loaded again), and kept only when the sum
    // of deviations stayed finite: then every value was finite, and Add would have done just
    // that. Otherwise (an absent or infinite value, or an overflow) the block goes through Add.
    void AddAll(const double* values, std::size_t count) {
        std::size_t i = 0;
        while (i < count && count_ == 0) {
            Add(values[i++]);
        }
        double min = min_;
        double max = max_;
        double sum = sum_;
        double squares = squares_;
        const double shift = shift_;
        for (std::size_t k = i; k < count; ++k) {
            const double y = values[k];
            min = y < min ? y : min;
            max = y > max ? y : max;
            const double d = y - shift;
            sum += d;
            squares += d * d;
        }
        if (std::isfinite(sum)) {
            min_ = min;
            max_ = max;
            sum_ = sum;
            squares_ = squares;
            count_ += count - i;
            return;
        }
        for (; i < count; ++i) {
            Add(values[i]);
        }
    }
    // Adds the values of a piece that came after every value taken so far.
    void Merge(const CMergeableStatistics& later) {
        if (later.Count() == 0) {
            return;
        }
        if (Count() == 0 || later.min_ < min_) {
            min_ = later.min_;
        }
        if (Count() == 0 || later.max_ > max_) {
            max_ = later.max_;
        }
        firstInfinity_ = firstInfinity_ == 0.0 ? later.firstInfinity_ : firstInfinity_;
        positiveInfinity_ = positiveInfinity_ || later.positiveInfinity_;
        negativeInfinity_ = negativeInfinity_ || later.negativeInfinity_;
        infinities_ += later.infinities_;
        if (later.count_ == 0) {
            return;
        }
        if (count_ == 0) {
            shift_ = later.shift_;
        }
        // The later sums moved onto this shift.
        const double d = later.shift_ - shift_;
        const double n = static_cast<double>(later.count_);
        squares_ += later.squares_ + 2.0 * d * later.sum_ + n * d * d;
        sum_ += later.sum_ + n * d;
        count_ += later.count_;
    }
    ChannelStatistics Result() const {
        ChannelStatistics stats;
        stats.count = Count();
        if (stats.count == 0) {
            return stats;
        }
        stats.min = min_;
        stats.max = max_;
        if (infinities_ > 0) {
            // What the plain sums and the one-pass sigma give with infinite values in them.
            const double m = static_cast<double>(stats.count);
            const double sum = positiveInfinity_ && negativeInfinity_
                                   ? firstInfinity_ + -firstInfinity_
                                   : firstInfinity_;
            const double squares = std::numeric_limits<double>::infinity();
            stats.mean = sum / m;
            stats.sigma = std::sqrt(
                std::fabs((m * stats.mean * stats.mean + squares - 2.0 * stats.mean * sum) / m));
            return stats;
        }
        const double n = static_cast<double>(count_);
        stats.mean = shift_ + sum_ / n;
        stats.sigma = std::sqrt(std::fmax(squares_ - sum_ * sum_ / n, 0.0) / n);
        return stats;
    }

  private:
    std::size_t Count() const { return count_ + infinities_; }

    std::size_t count_ = 0;  // finite values
    double min_ = 0.0;
    double max_ = 0.0;
    double shift_ = 0.0;    // the first finite value
    double sum_ = 0.0;      // of the deviations from shift_
    double squares_ = 0.0;  // of their squares
    std::size_t infinities_ = 0;
    double firstInfinity_ = 0.0;
    bool positiveInfinity_ = false;
    bool negativeInfinity_ = false;
};

// Min, max, mean and population sigma of value(i) for i in [first, end). Absent values (NaN) are
// skipped; count 0 when every value is absent or the range is empty.
template <typename Value>
ChannelStatistics ComputeStatistics(Value&& value, std::size_t first, std::size_t end) {
    CRunningStatistics running;
    for (std::size_t i = first; i < end; ++i) {
        running.Add(value(i));
    }
    return running.Result();
}

struct YRange {
    double bottom = 0.0;
    double top = 0.0;
};

// The range a pane shows for these statistics and Y scale. Nearly constant data (sigma at most a
// hundred-thousandth of the mean) is shown 3 % either side of its mean whatever the scale; any
// unknown scale behaves as "All +".
YRange ScaleRange(const ChannelStatistics& stats, std::int32_t yScale);

struct DecayFit {
    bool valid = false;  // false when fewer than two distinct days had a usable signal
    double slope = 0.0;  // of ln(signal) per day
    double intercept = 0.0;
    std::string text;       // "Decay = %+g %/day", the slope in percent per day
    double spanDays = 0.0;  // from the first point fitted to the last
};

// Least-squares line through ln(signal(i)) against days(i) for i in [first, last]. Points whose
// signal is not positive (no logarithm) or absent are left out of the fit.
template <typename Days, typename Signal>
DecayFit FitDecay(Days&& days, Signal&& signal, std::size_t first, std::size_t last);

// A fit over fewer days than this says nothing about a tube that lasts years: a warm-up, the
// daily swing of the room or the wobble of a few records outweighs the decay in it.
inline constexpr double kShortestProjectionDays = 3.0;
// Half-lives beyond a century are not given as a date: the fit cannot tell them apart.
inline constexpr double kLongestDatedHalfLifeDays = 100.0 * 365.25;

// What a fit can say about when the signal halves.
enum class EHalfLifeOutlook {
    kNoFit,     // no slope at all
    kTooShort,  // the fit covers fewer than kShortestProjectionDays
    kRising,    // the signal does not fall
    kDated,     // halves within a century
    kBeyondCentury,
};
EHalfLifeOutlook HalfLifeOutlook(const DecayFit& fit);

// The line under the decay text: when a sound falling fit reaches half its value at the last
// fitted point, "Signal halves by YYYY-MM-DD (in N days)" with the date in UTC from that point's
// MJD; otherwise why there is no date ("Fit over 2 minutes: too short to project", "signal
// rising: no end of life in sight", "Signal halves in more than 100 years"); empty without a fit.
std::string HalfLifeProjection(const DecayFit& fit, double lastFittedMjd);

// The MJD at which a falling fit reaches half its value at lastFittedMjd; nothing when the fit
// is not valid, too short to project, not falling, or would take more than a million days.
std::optional<double> HalfLifeMjd(const DecayFit& fit, double lastFittedMjd);

// The decay text for a slope of ln(signal) per day.
std::string DecayText(double slope);
// The text shown when there is nothing to fit.
inline constexpr char kNoDecayText[] = "Decay = ? %/day";

struct LineFit {
    bool valid = false;  // false with fewer than two distinct times
    double slope = 0.0;  // per day
    double intercept = 0.0;
    double spanDays = 0.0;
};

// The sums of a least-squares line gathered point by point or in pieces (deviations from the
// first point, so days may be MJDs without loss); two parts merge into the whole in either
// order.
class CLineFitSums {
  public:
    // Points with an absent (NaN) or infinite time or value are left out: one would poison
    // every sum.
    void Add(double days, double value);
    // Adds count points that a stretch of records stands for, all at its mean time and mean
    // value; earliest and latest are the stretch's first and last times, the fit's span.
    void AddMean(double days, double value, std::size_t count, double earliest, double latest);
    // Adds the points of another part of the series.
    void Merge(const CLineFitSums& later);
    LineFit Result() const;
    std::size_t Count() const { return count_; }
    // The days between the first and the last point fitted (0 without points).
    double Span() const { return count_ == 0 ? 0.0 : maxX_ - minX_; }

  private:
    std::size_t count_ = 0;
    double minX_ = 0.0;
    double maxX_ = 0.0;
    double shiftX_ = 0.0;  // the first point
    double shiftY_ = 0.0;
    double x_ = 0.0;  // sums of the deviations from it, their squares and products
    double y_ = 0.0;
    double xx_ = 0.0;
    double xy_ = 0.0;
};

// The sums of FitDecay gathered point by point or in pieces, as CMergeableStatistics does for
// one series: the line through ln(signal) against days, without holding the points, for a file
// read in pieces or a series that grows while it is watched. Two parts merge into the whole in
// either order.
class CDecayFitSums {
  public:
    // Points whose signal is not positive or absent, or whose time is absent, are left out.
    void Add(double days, double signal) {
        if (signal > 0.0) {
            line_.Add(days, std::log(signal));
        }
    }
    // Adds the points of another part of the series.
    void Merge(const CDecayFitSums& later) { line_.Merge(later.line_); }
    DecayFit Result() const;

    std::size_t Count() const { return line_.Count(); }
    // The days between the first and the last point fitted (0 without points).
    double Span() const { return line_.Span(); }

  private:
    CLineFitSums line_;
};

template <typename Days, typename Signal>
DecayFit FitDecay(Days&& days, Signal&& signal, std::size_t first, std::size_t last) {
    // Two passes, as the means must be known before the centred sums.
    double sumX = 0.0;
    double sumY = 0.0;
    double minX = std::numeric_limits<double>::infinity();
    double maxX = -minX;
    std::size_t m = 0;
    auto usable = [&](std::size_t i) { return signal(i) > 0.0 && !std::isnan(days(i)); };
    for (std::size_t i = first; i <= last; ++i) {
        if (usable(i)) {
            sumX += days(i);
            minX = std::min(minX, days(i));
            maxX = std::max(maxX, days(i));
            sumY += std::log(signal(i));
            ++m;
        }
    }
    DecayFit fit;
    fit.text = kNoDecayText;
    if (m < 2) {
        return fit;
    }
    const double xbar = sumX / static_cast<double>(m);
    const double ybar = sumY / static_cast<double>(m);
    double sxy = 0.0;
    double sxx = 0.0;
    for (std::size_t i = first; i <= last; ++i) {
        if (usable(i)) {
            const double dx = days(i) - xbar;
            sxy += dx * (std::log(signal(i)) - ybar);
            sxx += dx * dx;
        }
    }
    if (sxx == 0.0) {
        return fit;
    }
    fit.valid = true;
    fit.slope = sxy / sxx;
    fit.intercept = ybar - fit.slope * xbar;
    fit.text = DecayText(fit.slope);
    fit.spanDays = maxX - minX;
    return fit;
}

}  // namespace corvane3
