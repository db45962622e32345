#include "core/plot/Statistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace corvane3 {
namespace {

ChannelStatistics StatisticsOf(const std::vector<double>& values) {
    return ComputeStatistics([&](std::size_t i) { return values[i]; }, 0, values.size());
}

TEST(StatisticsTest, RangesForEachYScaleAndForNearlyConstantData) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double s = std::sqrt(2.0 / 3.0);  // sigma of 1, 2, 3
    const struct {
        std::vector<double> values;
        std::int32_t yScale;
        double bottom, top;
    } cases[] = {
        {{5, 5, 5}, kYScaleAll, 4.85, 5.15},       // constant: 3 % either side
        {{0, 0}, kYScaleThreeSigma, -0.11, 0.11},  // constantly zero
        {{-2, -2}, kYScaleAll, -2.06, -1.94},      // constant and negative
        {{1, 2, 3}, kYScaleAllPlus, 1 - s, 3 + s},
        {{1, 2, 3}, kYScaleAll, 1, 3},
        {{1, 2, 3}, kYScaleOneSigma, 2 - s, 2 + s},
        {{1, 2, 3}, kYScaleThreeSigma, 2 - 3 * s, 2 + 3 * s},
        {{1, 2, 3}, kYScaleSixSigma, 2 - 6 * s, 2 + 6 * s},
        {{1, 2, 3}, 9, 1 - s, 3 + s},          // an unknown scale is "All +"
        {{1, nan, 3, nan}, kYScaleAll, 1, 3},  // absent values are skipped
        {{7}, kYScaleSixSigma, 6.79, 7.21},    // a single point has no spread
    };
    for (const auto& c : cases) {
        const YRange range = ScaleRange(StatisticsOf(c.values), c.yScale);
        EXPECT_NEAR(range.bottom, c.bottom, 1e-9) << c.values.size() << " " << c.yScale;
        EXPECT_NEAR(range.top, c.top, 1e-9) << c.values.size() << " " << c.yScale;
    }
    // Sigma of exactly a hundred-thousandth of the mean still counts as constant.
    ChannelStatistics edge{2, 1.0, 1.0, 1000.0, 0.01};
    EXPECT_NEAR(ScaleRange(edge, kYScaleAll).top, 1030.0, 1e-9);
    edge.sigma = 0.0100001;
    EXPECT_EQ(ScaleRange(edge, kYScaleAll).top, 1.0);
}

TEST(StatisticsTest, DecayIsTheSlopeOfTheLogSignalInPercentPerDay) {
    // 100 mV falling by 1 % a day over two days, a point an hour, with an unusable point in it.
    std::vector<double> days, signal;
    for (int hour = 0; hour <= 48; ++hour) {
        days.push_back(hour / 24.0);
        signal.push_back(100.0 * std::pow(0.99, hour / 24.0));
    }
    signal[10] = 0.0;  // no logarithm: left out rather than taken as ln = 0
    const auto day = [&](std::size_t i) { return days[i]; };
    const auto value = [&](std::size_t i) { return signal[i]; };
    const DecayFit fit = FitDecay(day, value, 0, days.size() - 1);
    ASSERT_TRUE(fit.valid);
    EXPECT_NEAR(fit.slope, std::log(0.99), 1e-12);
    EXPECT_NEAR(std::exp(fit.intercept), 100.0, 1e-9);
    EXPECT_EQ(fit.text, "Decay = -1.00503 %/day");
    // ln 2 / 0.01005 = 68.97 days after the last point; MJD 60000 is 2023-02-25.
    EXPECT_EQ(HalfLifeProjection(fit, 60000.0), "Signal halves by 2023-05-04 (in 69 days)");
    DecayFit rising = fit;
    rising.slope = 0.0001;
    EXPECT_EQ(HalfLifeProjection(rising, 60000.0), "");

    // One point, or points of one day, have no slope.
    EXPECT_EQ(FitDecay(day, value, 5, 5).text, kNoDecayText);
    const auto sameDay = [](std::size_t) { return 3.0; };
    EXPECT_FALSE(FitDecay(sameDay, value, 0, 20).valid);
    EXPECT_EQ(DecayText(0.0002), "Decay = +0.02 %/day");
}

// The fit kept point by point, in parts merged in any order, is the fit of all points at once,
// also on MJDs where the sums of squares of a naive fit would lose the slope.
TEST(StatisticsTest, ARunningDecayFitInMergedPartsEqualsTheFitOfAllPoints) {
    std::vector<double> mjd, signal;
    for (int hour = 0; hour <= 24 * 400; hour += 7) {
        mjd.push_back(60000.0 + hour / 24.0);
        // 1 %/month fall with a ripple, and a few unusable points.
        signal.push_back(hour % 97 == 0 ? -1.0
                                        : 2000.0 * std::exp(-0.01 / 30.0 * hour / 24.0) *
                                              (1.0 + 0.01 * std::sin(hour)));
    }
    const DecayFit all = FitDecay([&](std::size_t i) { return mjd[i] - mjd[0]; },
                                  [&](std::size_t i) { return signal[i]; }, 0, mjd.size() - 1);
    ASSERT_TRUE(all.valid);
    CRunningDecayFit early, late, empty;
    const std::size_t split = mjd.size() / 3;
    for (std::size_t i = 0; i < mjd.size(); ++i) {
        (i < split ? early : late).Add(mjd[i], signal[i]);
    }
    CRunningDecayFit lateFirst = late;
    lateFirst.Merge(early);
    early.Merge(empty);
    early.Merge(late);
    for (const CRunningDecayFit& whole : {early, lateFirst}) {
        const DecayFit fit = whole.Result();
        ASSERT_TRUE(fit.valid);
        EXPECT_NEAR(fit.slope, all.slope, 1e-12);
        EXPECT_EQ(fit.text, all.text);
        // From the first usable point (hour 7) to the last.
        EXPECT_NEAR(whole.Span(), mjd.back() - mjd[1], 1e-9);
    }
    EXPECT_EQ(empty.Result().text, kNoDecayText);
    // The projection's date as a number.
    const std::optional<double> halves = HalfLifeMjd(all, 60000.0);
    ASSERT_TRUE(halves);
    EXPECT_NEAR(*halves - 60000.0, std::log(2.0) / -all.slope, 1e-9);
    EXPECT_FALSE(HalfLifeMjd(DecayFit{true, 1e-3, 0.0, ""}, 60000.0));
    EXPECT_FALSE(HalfLifeMjd(DecayFit{true, -1e-9, 0.0, ""}, 60000.0)) << "beyond a million days";
}

}  // namespace
}  // namespace corvane3
