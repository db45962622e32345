#pragma once
// A plot cache against the same points held in memory: every value, statistic, search by time,
// frame and decay fit must agree; the two-pass reference for statistics. Also the records of a unit
// whose PC clock was set back.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <numeric>
#include <ranges>
#include <utility>
#include <vector>

#include "core/plot/MinMaxPyramid.h"
#include "core/plot/PlotCache.h"
#include "core/plot/PlotData.h"
#include "core/plot/Statistics.h"
#include "support/TelemetryTestData.h"
#include "support/VectorPoints.h"

namespace corvane3::testing {

constexpr double kClockSecond = 1.0 / 86400.0;
constexpr double kClockInterval = 600 * kClockSecond;  // one record every ten minutes

// Records older than the record before them, and by how much: a second (a time service's
// correction), an hour, and three days (back over times already recorded).
struct ClockStep {
    int record;
    double olderBy;
};
inline const std::vector<ClockStep> kClockSteps = {
    {1000, kClockSecond}, {17000, 1.0 / 24.0}, {30001, 3.0}};

// Record i: the decaying unit's, its MJD set back at each step; now and then a signal of zero or
// below, which has no logarithm and stays out of the decay fit.
inline UnitStateData SteppedRecord(int i) {
    UnitStateData data = DecayingRecord(i);
    data.d1.cLevel *= i % 997 == 5 ? 0 : i % 991 == 7 ? -1 : 1;
    for (const ClockStep& step : kClockSteps) {
        data.mjd -= i >= step.record ? kClockInterval + step.olderBy : 0.0;
    }
    return data;
}

// Mean and population sigma worked out in long double, two passes: the reference for sums kept
// any other way.
inline ChannelStatistics TwoPassStatistics(const std::vector<double>& values) {
    const long double mean = std::accumulate(values.begin(), values.end(), 0.0L) / values.size();
    long double squares = 0;
    for (double v : values) {
        squares += (v - mean) * (v - mean);
    }
    return {.count = values.size(),
            .mean = static_cast<double>(mean),
            .sigma = static_cast<double>(std::sqrt(squares / values.size()))};
}

// The edges of columns equal in width from left to right.
inline std::vector<double> Edges(double left, double right, int columns) {
    std::vector<double> edges;
    for (int c = 0; c <= columns; ++c) {
        edges.push_back(left + (right - left) * c / columns);
    }
    return edges;
}

// Nine digits: what sums kept in another order must still agree on.
inline std::string NineDigits(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

inline void ExpectCacheAgreesWithMemory(const CPlotData& memory, const CPlotCache& cache) {
    const std::int64_t n = memory.PointCount();
    ASSERT_EQ(cache.RecordCount(), n);
    const CPlotSeries mjd = memory.TimeAxis(0);
    std::vector<std::int64_t> steps;
    std::ranges::copy_if(std::views::iota(std::int64_t{1}, n), std::back_inserter(steps),
                         [&](std::int64_t i) { return mjd[i] < mjd[i - 1]; });
    EXPECT_EQ(cache.MjdSteps(), steps);
    // Views that start before everything, after the last record, at the usual distances from
    // it, two thirds in (partly through a sealed block), and in the middle of each stretch of
    // time recorded twice; frames over everything and over each of those stretches.
    const double last = mjd[n - 1];
    std::vector<double> starts = {mjd[0] - 1.0, last - 1.0, last - 1.0 / 24.0,
                                  last - 7.0,   1e9,        mjd[2 * n / 3]};
    std::vector<std::pair<double, double>> frames = {{mjd[0] - 4.0, last + 1.0}};
    for (const std::int64_t step : steps) {
        starts.push_back((mjd[step] + mjd[step - 1]) / 2.0);
        frames.emplace_back(mjd[step] - 0.1, mjd[step - 1] + 0.1);
    }
    std::vector<std::int64_t> firsts;
    for (const double start : starts) {
        // What the plot window takes for the first visible point of points held in memory: the
        // first not before start, found by a pass from the first.
        std::int64_t expected = 0;
        while (expected < n - 1 && mjd[expected] < start) {
            ++expected;
        }
        EXPECT_EQ(std::clamp<std::int64_t>(cache.LowerBoundMjd(start), 0, n - 1), expected)
            << "start " << NineDigits(start);
        firsts.push_back(expected);
    }
    for (const PlotCacheChannel& channel : cache.Channels()) {
        const int index = cache.ChannelIndex(channel.slot);
        const CPlotSeries series =
            channel.slot == CPlotData::kAxis0Slot ? mjd : memory.Channel(channel.slot);
        VectorPoints points;
        points.x.resize(static_cast<std::size_t>(n));
        points.y.resize(static_cast<std::size_t>(n));
        std::vector<double> values(static_cast<std::size_t>(n));
        ASSERT_TRUE(cache.Values(index, 0, n, values.data()));
        for (std::int64_t i = 0; i < n; ++i) {
            const auto k = static_cast<std::size_t>(i);
            points.x[k] = mjd[i];
            points.y[k] = series[i];
            ASSERT_EQ(values[k], series[i]) << "slot " << channel.slot << " record " << i;
        }
        for (const std::int64_t first : firsts) {
            const ChannelStatistics expected = ComputeStatistics(
                [&](std::size_t i) { return series[static_cast<std::int64_t>(i)]; },
                static_cast<std::size_t>(first), static_cast<std::size_t>(n));
            const ChannelStatistics got = cache.Statistics(index, first, n);
            EXPECT_EQ(got.count, expected.count);
            EXPECT_EQ(got.min, expected.min);
            EXPECT_EQ(got.max, expected.max);
            EXPECT_EQ(NineDigits(got.mean), NineDigits(expected.mean)) << "slot " << channel.slot;
            EXPECT_EQ(NineDigits(got.sigma), NineDigits(expected.sigma)) << "slot " << channel.slot;
        }
        CPlotTrace trace;
        trace.Extend(points);
        for (const auto& [from, to] : frames) {
            const std::vector<double> edges = Edges(from, to, /*columns=*/40);
            const std::vector<PlotColumn> expected = trace.Columns(points, edges);
            const std::vector<ValueRange> got = cache.FrameColumnsMjd(index, edges);
            ASSERT_EQ(got.size(), expected.size());
            for (std::size_t c = 0; c < got.size(); ++c) {
                EXPECT_EQ(got[c].min, expected[c].range.min) << "slot " << channel.slot << " " << c;
                EXPECT_EQ(got[c].max, expected[c].range.max) << "slot " << channel.slot << " " << c;
            }
        }
    }
    const CPlotSeries days = memory.TimeAxis(1);
    const CPlotSeries signal = memory.Channel(kChannelSignal);
    for (const std::int64_t first : firsts) {
        const DecayFit expected =
            FitDecay([&](std::size_t i) { return days[static_cast<std::int64_t>(i)]; },
                     [&](std::size_t i) { return signal[static_cast<std::int64_t>(i)]; },
                     static_cast<std::size_t>(first), static_cast<std::size_t>(n - 1));
        const DecayFit got = cache.FitDecay(first, n - 1);
        EXPECT_EQ(got.text, expected.text);
        EXPECT_EQ(NineDigits(got.slope), NineDigits(expected.slope));
        EXPECT_EQ(NineDigits(got.intercept), NineDigits(expected.intercept));
    }
}

}  // namespace corvane3::testing
