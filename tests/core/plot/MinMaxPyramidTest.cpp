#include "core/plot/MinMaxPyramid.h"
#include "core/plot/RecordingGaps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "support/CacheAgreement.h"
#include "support/VectorPoints.h"

namespace corvane3 {
namespace {

using testing::Edges;
using testing::VectorPoints;

// Every point put in its column by a plain search of the edges, as drawing each point would.
std::vector<ValueRange> BruteForceColumns(const VectorPoints& points,
                                          const std::vector<double>& edges) {
    std::vector<ValueRange> columns(edges.size() - 1);
    for (std::size_t i = 0; i < points.x.size(); ++i) {
        const double x = points.x[i];
        if (x >= edges.front() && x < edges.back()) {
            const auto after = std::upper_bound(edges.begin(), edges.end(), x);
            columns[static_cast<std::size_t>(after - edges.begin() - 1)].Add(points.y[i]);
        }
    }
    return columns;
}

void ExpectSameColumns(const CPlotTrace& trace, const VectorPoints& points,
                       const std::vector<double>& edges, const char* what) {
    const std::vector<PlotColumn> drawn = trace.Columns(points, edges);
    const std::vector<ValueRange> all = BruteForceColumns(points, edges);
    ASSERT_EQ(drawn.size(), all.size());
    for (std::size_t c = 0; c < all.size(); ++c) {
        ASSERT_EQ(drawn[c].range.Empty(), all[c].Empty()) << what << " column " << c;
        if (!all[c].Empty()) {
            ASSERT_EQ(drawn[c].range.min, all[c].min) << what << " column " << c;
            ASSERT_EQ(drawn[c].range.max, all[c].max) << what << " column " << c;
        }
    }
}

TEST(MinMaxPyramidTest, EachPixelColumnHoldsTheExtremesOfAllItsPoints) {
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::uniform_real_distribution<double> share(0.0, 1.0);
    VectorPoints points;
    CPlotTrace trace;
    // Grown in uneven steps as live points arrive, looked at through many views: the whole
    // series, zoomed in until columns hold one point or none, and partly outside the data.
    for (const std::int64_t total : {1, 31, 32, 33, 1000, 4097, 20000, 70001}) {
        while (points.Count() < total) {
            const double i = static_cast<double>(points.Count());
            points.x.push_back(i * 0.5);
            const bool spike = share(random) < 0.001;
            points.y.push_back(spike ? 1000.0 * noise(random)
                                     : std::sin(i / 300.0) + noise(random));
        }
        points.y[points.y.size() / 2] = std::numeric_limits<double>::quiet_NaN();
        trace.Extend(points);
        ASSERT_TRUE(trace.SortedX());
        const double last = points.x.back();
        ExpectSameColumns(trace, points, Edges(0.0, last + 0.5, 1200), "whole");
        for (int view = 0; view < 20; ++view) {
            const double a = share(random) * last * 1.2 - 0.1 * last;
            const double width = share(random) * last * 0.5 + 1.0;
            // Few columns as often as many: a wide column spans several blocks of the pyramid.
            const int columns = 1 + static_cast<int>(std::pow(share(random), 3) * 400);
            ExpectSameColumns(trace, points, Edges(a, a + width, columns), "view");
        }
    }
    // Columns end where the next begins, and the first and last values are the points' own.
    const std::vector<PlotColumn> columns = trace.Columns(points, Edges(0.0, 50.0, 10));
    EXPECT_EQ(columns.front().first, 0);
    for (std::size_t c = 1; c < columns.size(); ++c) {
        EXPECT_EQ(columns[c].first, columns[c - 1].end);
    }
    EXPECT_EQ(columns[3].firstY, points.y[static_cast<std::size_t>(columns[3].first)]);
    EXPECT_EQ(columns[3].lastY, points.y[static_cast<std::size_t>(columns[3].end - 1)]);

    // Fewer points than the pyramid took (a store that started again) start it afresh.
    points.x.resize(5);
    points.y.assign({4, 3, 9, 1, 2});
    trace.Extend(points);
    EXPECT_EQ(trace.Size(), 5);
    ExpectSameColumns(trace, points, Edges(0.0, 3.0, 3), "restarted");
}

// A gap is five median steps; one step, or points without spacing, say nothing of a spacing.
TEST(RecordingGapsTest, AGapIsFiveTimesTheMedianStep) {
    constexpr double kNone = std::numeric_limits<double>::infinity();
    for (const auto& [x, limit] : {std::pair(std::vector<double>{}, kNone), {{3}, kNone},
                                   {{0, 1}, kNone}, {{5, 5, 5, 5}, kNone}, {{0, 2, 4}, 10.0},
                                   {{0, 1, 2, 3, 13}, 5.0}, {{0, 1, 2, 102, 103}, 5.0}}) {
        VectorPoints points;
        points.x = x;
        EXPECT_EQ(GapLimit(points, points.Count()), limit) << ::testing::PrintToString(x);
    }
}

}  // namespace
}  // namespace corvane3
