#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "core/telemetry/CachedDataFile.h"
#include "core/telemetry/CachedReadingTrend.h"
#include "core/telemetry/ReadingTrends.h"
#include "core/telemetry/TelemetryColumns.h"
#include "core/telemetry/TelemetryFormat.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

constexpr double kStartMjd = 60000.0;
// A daily swing on top of the drift, as the chassis temperature gives the analog readings.
constexpr double kDailySwingVolts = 3.0;

struct CacheTrendCase {
    const char* name;
    double days;
    double recordSeconds;
    double voltsPerDay;
    LimitBand critical;
    ELimitOutlook outlook;  // of the fit over every record
};

// The projection of a file read through its plot cache against the fit over every record: the
// same date within a day, and the same text when there is no date.
TEST(PlotCacheTrendTest, ProjectionFromTheCacheIsTheOneOverEveryRecord) {
    const CacheTrendCase cases[] = {
        {"rising to a high limit", 300, 300, 1.25, {std::nullopt, 2500.0}, ELimitOutlook::kDated},
        {"falling to a low limit", 300, 300, -1.25, {1600.0, 2500.0}, ELimitOutlook::kDated},
        {"two days", 2, 5, 1.25, {std::nullopt, 2500.0}, ELimitOutlook::kTooShort},
        {"falling from", 300, 1200, -1.25, {std::nullopt, 2500.0}, ELimitOutlook::kMovingAway},
        {"past it", 300, 1200, 2.0, {std::nullopt, 2500.0}, ELimitOutlook::kReached},
        {"a century away", 300, 1200, 0.001, {std::nullopt, 2500.0}, ELimitOutlook::kBeyondCentury},
    };
    const std::atomic<bool> never{false};
    for (const CacheTrendCase& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempDir dir;
        const auto path = dir.Path() / "Unit1234.csd";
        testing::WriteVemFile(path, c.days, c.recordSeconds, c.voltsPerDay, kDailySwingVolts);
        const ReadingLimit limit{"VEM", {std::nullopt, 9000.0}, c.critical};

        const auto scanned = ScanReadingTrends(path.string(), {limit},
                                               std::numeric_limits<std::uint64_t>::max(), never);
        ASSERT_TRUE(scanned);
        const LimitProjection expected = ProjectLimit(limit, scanned->front());
        ASSERT_EQ(expected.outlook, c.outlook);

        CachedDataFileOptions options;
        options.cachePath = (dir.Path() / "Unit1234.plotcache").string();
        const CachedDataFileResult read = ReadDataFileCached(path.string(), options);
        ASSERT_EQ(read.read.status, EDataFileRead::kRead);
        const CPlotCache& cache = *read.cache;
        ASSERT_GT(cache.RecordCount(), PlotCacheOptions{}.blockRecords) << "one block only";
        const ReadingTrend trend =
            CachedReadingTrend(cache, cache.ChannelIndex(*PlotChannelOfColumn("VEM")));
        const LimitProjection got = ProjectLimit(limit, trend);

        ASSERT_EQ(got.outlook, expected.outlook);
        if (expected.outlook == ELimitOutlook::kDated) {
            EXPECT_NEAR(*got.mjd, *expected.mjd, 1.0);
            EXPECT_EQ(got.limit, expected.limit);
            EXPECT_EQ(got.spanDays, expected.spanDays);
        } else {
            EXPECT_EQ(LimitProjectionText(limit, got, "V"),
                      LimitProjectionText(limit, expected, "V"));
        }
    }
}

// Records where the reading or the MJD is absent: each block's centroid is of the records that
// hold both, so a reading exactly on a line gives that line whichever records lack it.
TEST(PlotCacheTrendTest, RecordsWithoutTheReadingOrTheirTimeAreLeftOutOfTheirBlocksCentroid) {
    constexpr std::int64_t kBlock = 64;
    constexpr std::int64_t kRecords = 10 * kBlock + 20;  // the last block partly filled
    constexpr double kSlope = 1.5;
    constexpr int kSlot = 5;
    CPlotCache cache(PlotCacheOptions{kBlock, 16, 1, 8});
    ASSERT_TRUE(cache.Reset(
        {{CPlotData::kAxis0Slot, EPlotStorage::kDouble}, {kSlot, EPlotStorage::kDouble}}));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> mjd(kRecords);
    std::vector<double> value(kRecords);
    CLineFitSums everyRecord;
    double lastMjd = 0.0;
    for (std::int64_t i = 0; i < kRecords; ++i) {
        const double day = static_cast<double>(i) / 100.0;
        mjd[i] = kStartMjd + day;
        value[i] = 2000.0 + kSlope * day;
        const std::int64_t block = i / kBlock;
        const std::int64_t inBlock = i % kBlock;
        if ((block == 1 && inBlock >= kBlock / 2) || (block == 4 && inBlock < 40) || block == 6 ||
            (block == 10 && inBlock >= 10)) {
            value[i] = nan;  // a unit without the reading for a while
        }
        if (block == 8 && inBlock < 30) {
            mjd[i] = nan;  // records whose time could not be read
        }
        everyRecord.Add(mjd[i], value[i]);
        if (!std::isnan(mjd[i]) && !std::isnan(value[i])) {
            lastMjd = mjd[i];
        }
    }
    const std::vector<std::span<const double>> columns{mjd, value};
    ASSERT_TRUE(cache.Append(columns));

    const ReadingTrend trend = CachedReadingTrend(cache, cache.ChannelIndex(kSlot));
    const LineFit got = trend.fit.Result();
    const LineFit expected = everyRecord.Result();
    ASSERT_TRUE(got.valid);
    EXPECT_NEAR(got.slope, kSlope, 1e-9);
    EXPECT_NEAR(got.intercept, expected.intercept, 1e-3);
    EXPECT_EQ(got.spanDays, expected.spanDays);
    EXPECT_EQ(trend.fit.Count(), everyRecord.Count());
    EXPECT_EQ(trend.lastMjd, lastMjd);
    // No MJD channel: no trend rather than one against record numbers.
    CPlotCache timeless(PlotCacheOptions{kBlock, 16, 1, 8});
    ASSERT_TRUE(timeless.Reset({{kSlot, EPlotStorage::kDouble}}));
    ASSERT_TRUE(timeless.Append(std::vector<std::span<const double>>{value}));
    EXPECT_FALSE(CachedReadingTrend(timeless, 0).fit.Result().valid);
}

}  // namespace
}  // namespace corvane3
