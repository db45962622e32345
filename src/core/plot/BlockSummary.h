#pragma once
// Summaries of a stretch of one channel's values that add up stretch by stretch: count, extremes,
// sum and sum of squares, and the sums of the beam signal's decay fit. The sums are kept in
// double-double precision (about 106 bits), so a range put together from block summaries in any
// order gives the mean, sigma and fit of a pass over the values, to the last printed digit, even
// for values with a large offset where a plain one-pass sum of squares loses its digits.

#include <cmath>
#include <cstdint>
#include <limits>

#include "core/plot/Statistics.h"
#include "core/plot/ValueRange.h"

namespace corvane3 {

// An unevaluated sum hi + lo with |lo| at most half an ulp of hi.
struct DoubleDouble {
    double hi = 0.0;
    double lo = 0.0;

    // Exact sum of two doubles as hi + lo (Knuth's two-sum).
    static DoubleDouble TwoSum(double a, double b) {
        const double s = a + b;
        const double bb = s - a;
        const double err = (a - (s - bb)) + (b - bb);
        return {s, err};
    }
    static DoubleDouble FastTwoSum(double a, double b) {
        const double s = a + b;
        return {s, b - (s - a)};
    }
    void Add(double value) {
        const DoubleDouble s = TwoSum(hi, value);
        *this = FastTwoSum(s.hi, s.lo + lo);
    }
    void Add(const DoubleDouble& other) {
        const DoubleDouble s = TwoSum(hi, other.hi);
        const DoubleDouble t = TwoSum(lo, other.lo);
        DoubleDouble r = FastTwoSum(s.hi, s.lo + t.hi);
        *this = FastTwoSum(r.hi, r.lo + t.lo);
    }
    // Adds a * b exactly (the rounding error of the product comes from a fused multiply-add).
    void AddProduct(double a, double b) {
        const double p = a * b;
        const double e = std::fma(a, b, -p);
        Add(p);
        Add(e);
    }
    // a * b exactly.
    static DoubleDouble TwoProduct(double a, double b) {
        const double p = a * b;
        return {p, std::fma(a, b, -p)};
    }
    DoubleDouble operator-() const { return {-hi, -lo}; }
    static DoubleDouble Multiply(const DoubleDouble& a, const DoubleDouble& b) {
        const double p = a.hi * b.hi;
        const double e = std::fma(a.hi, b.hi, -p) + (a.hi * b.lo + a.lo * b.hi);
        return FastTwoSum(p, e);
    }
    static DoubleDouble Divide(const DoubleDouble& a, double b) {
        const double q1 = a.hi / b;
        DoubleDouble r = a;
        r.AddProduct(-q1, b);
        const double q2 = r.hi / b;
        r.AddProduct(-q2, b);
        const double q3 = r.hi / b;
        DoubleDouble q = FastTwoSum(q1, q2);
        q.Add(q3);
        return q;
    }
    double Value() const { return hi + lo; }
};

// One channel over a stretch of records. Absent values (NaN) are not counted.
struct BlockSummary {
    std::uint64_t count = 0;
    ValueRange range;
    DoubleDouble sum;
    DoubleDouble sumOfSquares;

    void Add(double value) {
        if (std::isnan(value)) {
            return;
        }
        ++count;
        range.Add(value);
        sum.Add(value);
        sumOfSquares.AddProduct(value, value);
    }
    void Add(const BlockSummary& other) {
        count += other.count;
        range.Add(other.range);
        sum.Add(other.sum);
        sumOfSquares.Add(other.sumOfSquares);
    }
    // As ComputeStatistics gives for the same values: population sigma, absent values skipped.
    ChannelStatistics Statistics() const {
        ChannelStatistics stats;
        stats.count = static_cast<std::size_t>(count);
        if (count == 0) {
            return stats;
        }
        const double m = static_cast<double>(count);
        stats.min = range.min;
        stats.max = range.max;
        stats.mean = DoubleDouble::Divide(sum, m).Value();
        // Sum of squared deviations = sum of squares - sum^2 / m, without cancellation.
        DoubleDouble deviations = sumOfSquares;
        deviations.Add(-DoubleDouble::Multiply(sum, DoubleDouble::Divide(sum, m)));
        stats.sigma = std::sqrt(std::fabs(deviations.Value()) / m);
        return stats;
    }
};

// The summary of one block's values as they arrive, in plain arithmetic: deviations from the
// block's first present value are summed in doubles (over a block of records as exact as the
// printed digits need, whatever the offset) and turned into double-double sums only when the
// summary is asked for. That costs far less than a double-double operation per value, and the
// result depends only on the values and their order, not on how they were handed in.
class CBlockAccumulator {
  public:
    // Adds the values and gives their range (the caller's leaves need it too).
    ValueRange Add(const double* values, std::size_t n) {
        std::size_t i = 0;
        if (count_ == 0) {
            while (i < n && std::isnan(values[i])) {
                ++i;
            }
            if (i == n) {
                return {};
            }
            shift_ = values[i];
        }
        ValueRange added;
        std::uint64_t present = 0;
        for (; i < n; ++i) {
            const double v = values[i];
            const bool isPresent = !std::isnan(v);
            present += isPresent ? 1 : 0;
            added.Add(v);
            // An absent value adds exactly nothing, without a branch.
            const double d = isPresent ? v - shift_ : 0.0;
            deviations_ += d;
            squares_ += d * d;
        }
        count_ += present;
        range_.Add(added);
        return added;
    }
    void Clear() { *this = CBlockAccumulator{}; }
    BlockSummary Summary() const {
        BlockSummary summary;
        summary.count = count_;
        summary.range = range_;
        if (count_ == 0) {
            return summary;
        }
        // sum = count * shift + deviations; the sum of squares about 0 = count * shift^2 +
        // 2 shift deviations + the squares about the shift.
        const auto m = static_cast<double>(count_);
        const DoubleDouble shifted = DoubleDouble::TwoProduct(m, shift_);
        if (!std::isfinite(shifted.hi) || !std::isfinite(deviations_) || !std::isfinite(squares_)) {
            // Infinite readings: infinite or undefined sums, as plain addition gives them.
            summary.sum = {m * shift_ + deviations_, 0.0};
            summary.sumOfSquares = {m * shift_ * shift_ + squares_, 0.0};
            return summary;
        }
        summary.sum = shifted;
        summary.sum.Add(deviations_);
        summary.sumOfSquares = DoubleDouble::Multiply(shifted, {shift_, 0.0});
        summary.sumOfSquares.AddProduct(2.0 * shift_, deviations_);
        summary.sumOfSquares.Add(squares_);
        return summary;
    }

  private:
    std::uint64_t count_ = 0;
    double shift_ = 0.0;
    double deviations_ = 0.0;
    double squares_ = 0.0;
    ValueRange range_;
};

// The sums of the least-squares line through ln(signal) against days, over the records whose
// signal is positive and whose days are present (the points FitDecay uses).
struct DecaySums {
    std::uint64_t count = 0;
    ValueRange days;  // to tell a range of one distinct day (no slope) from a real one
    DoubleDouble x;
    DoubleDouble y;
    DoubleDouble xx;
    DoubleDouble xy;

    void Add(double dayValue, double signal) {
        if (!(signal > 0.0) || std::isnan(dayValue)) {
            return;
        }
        const double lnSignal = std::log(signal);
        ++count;
        days.Add(dayValue);
        x.Add(dayValue);
        y.Add(lnSignal);
        xx.AddProduct(dayValue, dayValue);
        xy.AddProduct(dayValue, lnSignal);
    }
    void Add(const DecaySums& other) {
        count += other.count;
        days.Add(other.days);
        x.Add(other.x);
        y.Add(other.y);
        xx.Add(other.xx);
        xy.Add(other.xy);
    }
    // The fit FitDecay gives for the same points.
    DecayFit Fit() const {
        DecayFit fit;
        fit.text = kNoDecayText;
        if (count < 2 || !(days.min < days.max)) {
            return fit;
        }
        const double m = static_cast<double>(count);
        const DoubleDouble xbar = DoubleDouble::Divide(x, m);
        const DoubleDouble ybar = DoubleDouble::Divide(y, m);
        DoubleDouble sxx = xx;
        sxx.Add(-DoubleDouble::Multiply(x, xbar));
        DoubleDouble sxy = xy;
        sxy.Add(-DoubleDouble::Multiply(x, ybar));
        if (!(sxx.Value() > 0.0)) {
            return fit;
        }
        fit.valid = true;
        fit.slope = sxy.Value() / sxx.Value();
        fit.intercept = ybar.Value() - fit.slope * xbar.Value();
        fit.text = DecayText(fit.slope);
        fit.spanDays = days.max - days.min;
        return fit;
    }
};

// The decay sums of one block's records as they arrive, kept as CBlockAccumulator keeps its
// sums: deviations from the block's first fitted point in doubles, folded when asked for.
class CDecayAccumulator {
  public:
    void Add(const double* mjd, const double* signal, std::size_t n, double dayOffset) {
        for (std::size_t i = 0; i < n; ++i) {
            const double day = mjd[i] - dayOffset;
            if (!(signal[i] > 0.0) || std::isnan(day)) {
                continue;
            }
            const double lnSignal = std::log(signal[i]);
            if (count_ == 0) {
                x0_ = day;
                y0_ = lnSignal;
            }
            ++count_;
            days_.Add(day);
            const double u = day - x0_;
            const double w = lnSignal - y0_;
            dx_ += u;
            dy_ += w;
            dxx_ += u * u;
            dxy_ += u * w;
        }
    }
    void Clear() { *this = CDecayAccumulator{}; }
    DecaySums Sums() const {
        DecaySums sums;
        sums.count = count_;
        sums.days = days_;
        if (count_ == 0) {
            return sums;
        }
        const auto m = static_cast<double>(count_);
        const DoubleDouble mx = DoubleDouble::TwoProduct(m, x0_);
        const DoubleDouble my = DoubleDouble::TwoProduct(m, y0_);
        sums.x = mx;
        sums.x.Add(dx_);
        sums.y = my;
        sums.y.Add(dy_);
        sums.xx = DoubleDouble::Multiply(mx, {x0_, 0.0});
        sums.xx.AddProduct(2.0 * x0_, dx_);
        sums.xx.Add(dxx_);
        sums.xy = DoubleDouble::Multiply(mx, {y0_, 0.0});
        sums.xy.AddProduct(x0_, dy_);
        sums.xy.AddProduct(y0_, dx_);
        sums.xy.Add(dxy_);
        return sums;
    }

  private:
    std::uint64_t count_ = 0;
    double x0_ = 0.0;
    double y0_ = 0.0;
    double dx_ = 0.0;
    double dy_ = 0.0;
    double dxx_ = 0.0;
    double dxy_ = 0.0;
    ValueRange days_;
};

}  // namespace corvane3
