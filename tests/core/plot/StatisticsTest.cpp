#include "core/plot/Statistics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

namespace corvane3 {
namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

ChannelStatistics StatisticsOf(const std::vector<double>& values) {
    return ComputeStatistics([&](std::size_t i) { return values[i]; }, 0, values.size());
}

TEST(StatisticsTest, RangesForEachYScaleAndForNearlyConstantData) {
    const double s = std::sqrt(2.0 / 3.0);  // sigma of 1, 2, 3
    const std::tuple<std::vector<double>, std::int32_t, double, double> cases[] = {
        {{5, 5, 5}, kYScaleAll, 4.85, 5.15},       // constant: 3 % either side
        {{0, 0}, kYScaleThreeSigma, -0.11, 0.11},  // constantly zero
        {{-2, -2}, kYScaleAll, -2.06, -1.94},      // constant and negative
        {{1, 2, 3}, kYScaleAllPlus, 1 - s, 3 + s},
        {{1, 2, 3}, kYScaleAll, 1, 3},
        {{1, 2, 3}, kYScaleOneSigma, 2 - s, 2 + s},
        {{1, 2, 3}, kYScaleThreeSigma, 2 - 3 * s, 2 + 3 * s},
        {{1, 2, 3}, kYScaleSixSigma, 2 - 6 * s, 2 + 6 * s},
        {{1, 2, 3}, 9, 1 - s, 3 + s},            // an unknown scale is "All +"
        {{1, kNan, 3, kNan}, kYScaleAll, 1, 3},  // absent values are skipped
        {{7}, kYScaleSixSigma, 6.79, 7.21},      // a single point has no spread
    };
    for (const auto& [values, yScale, bottom, top] : cases) {
        const YRange range = ScaleRange(StatisticsOf(values), yScale);
        EXPECT_NEAR(range.bottom, bottom, 1e-9) << values.size() << " " << yScale;
        EXPECT_NEAR(range.top, top, 1e-9) << values.size() << " " << yScale;
    }
    // Sigma of exactly a hundred-thousandth of the mean still counts as constant.
    ChannelStatistics edge{2, 1.0, 1.0, 1000.0, 0.01};
    EXPECT_NEAR(ScaleRange(edge, kYScaleAll).top, 1030.0, 1e-9);
    edge.sigma = 0.0100001;
    EXPECT_EQ(ScaleRange(edge, kYScaleAll).top, 1.0);
}

TEST(StatisticsTest, TheLineUnderTheDecaySaysWhenTheSignalHalvesOrWhyNot) {
    // By slope and span; the last fitted point is MJD 60000 (2023-02-25). Shortness comes
    // first: a short warm-up is not reported as a rise.
    const double falling = std::log(0.99);  // ln 2 / 0.01005 = 68.97 days
    const std::tuple<double, double, const char*> cases[] = {
        {falling, 3.0, "Signal halves by 2023-05-04 (in 69 days)"},
        {falling, 2.99, "Fit over 71.8 hours: too short to project"},
        {falling, 1.0 / 86400.0, "Fit over 1 second: too short to project"},
        {falling, 40.0 / 86400.0, "Fit over 40 seconds: too short to project"},
        {0.0001, 3.0, "signal rising: no end of life in sight"},
        {-std::log(2.0) / 36000.0, 30.0, "Signal halves by 2121-09-19 (in 36000 days)"},
        {-std::log(2.0) / 36600.0, 30.0, "Signal halves in more than 100 years"},
        {0.0, 30.0, "Signal halves in more than 100 years"},
    };
    for (const auto& [slope, spanDays, line] : cases) {
        const DecayFit projected{true, slope, 0.0, DecayText(slope), spanDays};
        EXPECT_EQ(HalfLifeProjection(projected, 60000.0), line) << slope << " " << spanDays;
        // A date for the metrics only where the fit is long enough and falls.
        const bool dated = spanDays >= kShortestProjectionDays && slope < 0.0;
        EXPECT_EQ(HalfLifeMjd(projected, 60000.0).has_value(), dated) << line;
    }
    EXPECT_EQ(HalfLifeProjection(DecayFit{}, 60000.0), "") << "no fit, no line";

    // Points of one day have no slope.
    const auto sameDay = [](std::size_t) { return 3.0; };
    const auto signal = [](std::size_t i) { return 100.0 - static_cast<double>(i); };
    EXPECT_FALSE(FitDecay(sameDay, signal, 0, 20).valid);
    EXPECT_EQ(FitDecay(sameDay, signal, 0, 20).text, kNoDecayText);
    EXPECT_EQ(DecayText(0.0002), "Decay = +0.02 %/day");
}

// The values taken in pieces of the given sizes, in turn, and merged in order.
ChannelStatistics InPieces(const std::vector<double>& values, std::vector<std::size_t> sizes) {
    CMergeableStatistics all;
    std::size_t next = 0;
    for (std::size_t piece = 0; next < values.size(); ++piece) {
        CMergeableStatistics part;
        const std::size_t end = std::min(values.size(), next + sizes[piece % sizes.size()]);
        for (; next < end; ++next) {
            part.Add(values[next]);
        }
        all.Merge(part);
    }
    return all.Result();
}

TEST(MergeableStatisticsTest, ConstantsAbsentValuesExtremesAndInfinities) {
    // A constant that no binary fraction holds has no spread at all.
    std::vector<double> constant(100001, static_cast<double>(24.1f));
    const ChannelStatistics flat = InPieces(constant, {333});
    EXPECT_EQ(flat.mean, static_cast<double>(24.1f));
    EXPECT_EQ(flat.sigma, 0.0);

    // Absent values are skipped; min and max are the first of equal extremes, as one pass
    // finds them, wherever the pieces are cut.
    const std::vector<double> values{kNan, 0.0, -0.0, 3.0, kNan, -2.0, 3.0, -2.0};
    const ChannelStatistics plain = StatisticsOf(values);
    for (std::size_t size : {1u, 2u, 3u, 8u}) {
        const ChannelStatistics stats = InPieces(values, {size});
        EXPECT_EQ(stats.count, 6u);
        EXPECT_EQ(stats.min, -2.0);
        EXPECT_EQ(stats.max, 3.0);
        EXPECT_DOUBLE_EQ(stats.mean, plain.mean);
        EXPECT_DOUBLE_EQ(stats.sigma, plain.sigma);
    }
    EXPECT_EQ(InPieces({kNan, kNan}, {1}).count, 0u);

    // Infinite readings give what the plain sums give: an infinite mean, or none.
    for (const std::vector<double>& withInfinity : std::vector<std::vector<double>>{
             {1.0, kInf, 2.0}, {-kInf, 1.0}, {1.0, kInf, -kInf, 2.0}}) {
        const ChannelStatistics expected = StatisticsOf(withInfinity);
        const ChannelStatistics stats = InPieces(withInfinity, {1});
        EXPECT_EQ(std::isnan(stats.mean), std::isnan(expected.mean));
        if (!std::isnan(expected.mean)) {
            EXPECT_EQ(stats.mean, expected.mean);
        }
        EXPECT_EQ(std::isnan(stats.sigma), std::isnan(expected.sigma));
        EXPECT_EQ(stats.min, expected.min);
        EXPECT_EQ(stats.max, expected.max);
    }
}

TEST(StatisticsTest, ALineFitLeavesOutPointsWithoutAFiniteTimeAndValue) {
    CLineFitSums fit;
    for (const auto& [days, value] : {std::pair{0.0, 1.0}, {3.0, kInf}, {1.0, 3.0}, {kInf, 2.0},
                                     {4.0, -kInf}, {2.0, 5.0}, {5.0, kNan}}) {
        fit.Add(days, value);
    }
    EXPECT_EQ(fit.Count(), 3u);
    EXPECT_DOUBLE_EQ(fit.Result().slope, 2.0);
    EXPECT_DOUBLE_EQ(fit.Result().spanDays, 2.0);
}

TEST(MergeableStatisticsTest, TheDecayFitInPiecesIsTheFitOfAllPoints) {
    // Ten years of points every 10 s would be too many here: a year every 100 s, a signal
    // falling 0.01 % a day with a wobble, and some points without a usable signal.
    std::mt19937 random(11);
    std::normal_distribution<double> wobble(0.0, 1e-4);
    std::vector<double> days, signal;
    for (int i = 0; i < 315360; ++i) {
        days.push_back(i * 100.0 / 86400.0);
        const double s = 10000.0 * std::exp(-0.0001 * days.back()) * (1.0 + wobble(random));
        signal.push_back(i % 1000 == 999 ? 0.0 : s);
    }
    const DecayFit whole = FitDecay([&](std::size_t i) { return days[i]; },
                                    [&](std::size_t i) { return signal[i]; }, 0, days.size() - 1);
    // On MJDs, where the sums of squares of a naive fit would lose the slope, merged in either
    // order and with an empty part: the same fit, spanning the first to the last usable point.
    CDecayFitSums early, late, empty;
    for (std::size_t i = 0; i < days.size(); ++i) {
        (i < days.size() / 3 ? early : late).Add(60000.0 + days[i], signal[i]);
    }
    CDecayFitSums lateFirst = late;
    lateFirst.Merge(early);
    early.Merge(empty);
    early.Merge(late);
    for (const CDecayFitSums& all : {early, lateFirst}) {
        EXPECT_NEAR(all.Result().slope, whole.slope, std::fabs(whole.slope) * 1e-9);
        EXPECT_NEAR(all.Result().intercept, whole.intercept - whole.slope * 60000.0, 1e-6);
        EXPECT_EQ(all.Result().text, whole.text);
        EXPECT_NEAR(all.Span(), days.back() - days.front(), 1e-9);
        EXPECT_NEAR(all.Result().spanDays, whole.spanDays, 1e-9);
    }
    EXPECT_EQ(empty.Result().text, kNoDecayText);
    EXPECT_FALSE(HalfLifeMjd(DecayFit{true, -1e-9, 0.0, "", 400.0}, 60000.0))
        << "beyond a million days";
    CDecayFitSums sameDay;
    sameDay.Add(1.0, 5.0);
    sameDay.Add(1.0, 6.0);
    sameDay.Add(2.0, -1.0);  // no logarithm: left out
    EXPECT_FALSE(sameDay.Result().valid);
    EXPECT_EQ(sameDay.Result().text, kNoDecayText);
}

// Statistics taken a block at a time must be bit for bit those taken value by value: the file
// summary prints them to the last digit either way.
bool SameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(StatisticsBlocksTest, BlocksGiveTheBitsOfOneValueAtATime) {
    const double big = std::numeric_limits<double>::max();
    const std::vector<std::vector<double>> cases{
        {24.125, 24.5, 23.75, -0.0, 0.0, 1e-300, 24.1},
        {kNan, kNan, 3.0, -2.0, kNan, 7.5},  // absent values first and between
        {1.0, kInf, 2.0, -kInf, 3.0},        // infinities among finite values
        {-kInf, 5.0, 6.0},                   // an infinity before any finite value
        {big, big, -big, 1.0},               // deviations that overflow
        {-big, big, 0.5},
        {2.0e9 + 0.25, 2.0e9 - 0.5, 2.0e9, 2.0e9 + 1.0}};  // a large offset
    for (const std::vector<double>& values : cases) {
        CMergeableStatistics one;
        for (double value : values) {
            one.Add(value);
        }
        const ChannelStatistics expected = one.Result();
        for (std::size_t block = 1; block <= values.size(); ++block) {
            CMergeableStatistics blocks;
            for (std::size_t i = 0; i < values.size(); i += block) {
                blocks.AddAll(values.data() + i, std::min(block, values.size() - i));
            }
            const ChannelStatistics got = blocks.Result();
            EXPECT_EQ(got.count, expected.count) << values[0] << ", block " << block;
            for (const auto& [a, b] : {std::pair{got.min, expected.min},
                                       {got.max, expected.max},
                                       {got.mean, expected.mean},
                                       {got.sigma, expected.sigma}}) {
                EXPECT_TRUE(SameBits(a, b))
                    << a << " != " << b << ": " << values[0] << ", block " << block;
            }
        }
    }
}

}  // namespace
}  // namespace corvane3
