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
        return fit;
    }
};

}  // namespace corvane3
