#pragma once
// Statistics of a plotted channel: the Y range a pane shows for each Y scale, and the fit of the
// beam signal's exponential decay in percent per day. Pure computations over indexed values, so
// the plot window, the file summary and the tests share them whatever the store's layout.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

namespace corvane3 {

// Y scale indices as the settings store them.
enum YScale : std::int32_t {
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
        sum_ += y;
        sumOfSquares_ += y * y;
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
        stats.mean = sum_ / m;
        // The one-pass form; the absolute value keeps rounding from giving a negative variance.
        stats.sigma = std::sqrt(
            std::fabs((m * stats.mean * stats.mean + sumOfSquares_ - 2.0 * stats.mean * sum_) / m));
        return stats;
    }

  private:
    std::size_t count_ = 0;
    double min_ = 0.0;
    double max_ = 0.0;
    double sum_ = 0.0;
    double sumOfSquares_ = 0.0;
};

// Statistics gathered in pieces (each on any thread) and merged in value order, for series too
// long to hold. Mean and sigma stay exact to the last digits whatever the offset of the values:
// each run of values is summed as deviations from its first value, and runs and pieces are
// merged by their counts, means and sums of squared deviations (Chan's formula). Min and max
// are as CRunningStatistics finds them. Absent values (NaN) are skipped.
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
        if (runCount_ == 0) {
            shift_ = y;
        }
        const double d = y - shift_;
        runSum_ += d;
        runSquares_ += d * d;
        if (++runCount_ == kRunLength) {
            FoldRun();
        }
    }
    // Adds the values of a piece that came after every value taken so far.
    void Merge(CMergeableStatistics later) {
        later.FoldRun();
        FoldRun();
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
        if (later.count_ > 0) {
            Combine(later.count_, later.mean_, later.squares_);
        }
    }
    ChannelStatistics Result() const {
        CMergeableStatistics all = *this;
        all.FoldRun();
        ChannelStatistics stats;
        stats.count = all.Count();
        if (stats.count == 0) {
            return stats;
        }
        stats.min = all.min_;
        stats.max = all.max_;
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
        stats.mean = all.mean_;
        stats.sigma = std::sqrt(all.squares_ / static_cast<double>(all.count_));
        return stats;
    }

  private:
    // Values summed as deviations from one shift before they are merged: short enough that the
    // sums stay exact to rounding, long enough that merging costs nothing.
    static constexpr std::size_t kRunLength = 1024;

    void FoldRun() {
        if (runCount_ == 0) {
            return;
        }
        const double n = static_cast<double>(runCount_);
        const double mean = shift_ + runSum_ / n;
        const double squares = std::fmax(runSquares_ - runSum_ * runSum_ / n, 0.0);
        Combine(runCount_, mean, squares);
        runCount_ = 0;
        runSum_ = 0.0;
        runSquares_ = 0.0;
    }
    void Combine(std::size_t count, double mean, double squares) {
        if (count_ == 0) {
            count_ = count;
            mean_ = mean;
            squares_ = squares;
            return;
        }
        const double a = static_cast<double>(count_);
        const double b = static_cast<double>(count);
        const double total = a + b;
        const double delta = mean - mean_;
        mean_ += delta * (b / total);
        squares_ += squares + delta * delta * (a * b / total);
        count_ += count;
    }

    std::size_t Count() const { return count_ + runCount_ + infinities_; }

    std::size_t count_ = 0;  // finite values folded into mean_ and squares_
    double min_ = 0.0;
    double max_ = 0.0;
    double mean_ = 0.0;
    double squares_ = 0.0;  // sum of squared deviations from mean_
    std::size_t runCount_ = 0;
    double shift_ = 0.0;
    double runSum_ = 0.0;
    double runSquares_ = 0.0;
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
    std::string text;  // "Decay = %+g %/day", the slope in percent per day
};

// Least-squares line through ln(signal(i)) against days(i) for i in [first, last]. Points whose
// signal is not positive (no logarithm) or absent are left out of the fit.
template <typename Days, typename Signal>
DecayFit FitDecay(Days&& days, Signal&& signal, std::size_t first, std::size_t last);

// When a falling fit reaches half its value at the last fitted point: "Signal halves by
// YYYY-MM-DD (in N days)", the date in UTC from that point's MJD; empty when the fit is not
// valid or not falling.
std::string HalfLifeProjection(const DecayFit& fit, double lastFittedMjd);

// The decay text for a slope of ln(signal) per day.
std::string DecayText(double slope);
// The text shown when there is nothing to fit.
inline constexpr char kNoDecayText[] = "Decay = ? %/day";

// The sums of FitDecay gathered in pieces and merged in point order, as CMergeableStatistics
// does for one series: the same fit without holding the points.
class CDecayFitSums {
  public:
    void Add(double days, double signal) {
        if (!(signal > 0.0) || std::isnan(days)) {
            return;
        }
        const double y = std::log(signal);
        if (runCount_ == 0) {
            shiftX_ = days;
            shiftY_ = y;
        }
        const double dx = days - shiftX_;
        const double dy = y - shiftY_;
        run_.x += dx;
        run_.y += dy;
        run_.xx += dx * dx;
        run_.xy += dx * dy;
        if (++runCount_ == kRunLength) {
            FoldRun();
        }
    }
    // Adds the points of a piece that came after every point taken so far.
    void Merge(CDecayFitSums later) {
        later.FoldRun();
        FoldRun();
        Combine(later.count_, later.meanX_, later.meanY_, later.xx_, later.xy_);
    }
    DecayFit Result() const {
        CDecayFitSums all = *this;
        all.FoldRun();
        DecayFit fit;
        fit.text = kNoDecayText;
        if (all.count_ < 2 || all.xx_ == 0.0) {
            return fit;
        }
        fit.valid = true;
        fit.slope = all.xy_ / all.xx_;
        fit.intercept = all.meanY_ - fit.slope * all.meanX_;
        fit.text = DecayText(fit.slope);
        return fit;
    }

  private:
    static constexpr std::size_t kRunLength = 1024;
    struct Sums {
        double x = 0.0, y = 0.0, xx = 0.0, xy = 0.0;
    };

    void FoldRun() {
        if (runCount_ == 0) {
            return;
        }
        const double n = static_cast<double>(runCount_);
        Combine(runCount_, shiftX_ + run_.x / n, shiftY_ + run_.y / n,
                std::fmax(run_.xx - run_.x * run_.x / n, 0.0), run_.xy - run_.x * run_.y / n);
        runCount_ = 0;
        run_ = {};
    }
    void Combine(std::size_t count, double meanX, double meanY, double xx, double xy) {
        if (count == 0) {
            return;
        }
        if (count_ == 0) {
            count_ = count;
            meanX_ = meanX;
            meanY_ = meanY;
            xx_ = xx;
            xy_ = xy;
            return;
        }
        const double a = static_cast<double>(count_);
        const double b = static_cast<double>(count);
        const double total = a + b;
        const double dx = meanX - meanX_;
        const double dy = meanY - meanY_;
        meanX_ += dx * (b / total);
        meanY_ += dy * (b / total);
        xx_ += xx + dx * dx * (a * b / total);
        xy_ += xy + dx * dy * (a * b / total);
        count_ += count;
    }

    std::size_t count_ = 0;
    double meanX_ = 0.0;
    double meanY_ = 0.0;
    double xx_ = 0.0;  // sum of squared deviations of x
    double xy_ = 0.0;  // sum of products of the deviations
    std::size_t runCount_ = 0;
    double shiftX_ = 0.0;
    double shiftY_ = 0.0;
    Sums run_;
};

template <typename Days, typename Signal>
DecayFit FitDecay(Days&& days, Signal&& signal, std::size_t first, std::size_t last) {
    // Two passes, as the means must be known before the centred sums.
    double sumX = 0.0;
    double sumY = 0.0;
    std::size_t m = 0;
    auto usable = [&](std::size_t i) { return signal(i) > 0.0 && !std::isnan(days(i)); };
    for (std::size_t i = first; i <= last; ++i) {
        if (usable(i)) {
            sumX += days(i);
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
    return fit;
}

}  // namespace corvane3
