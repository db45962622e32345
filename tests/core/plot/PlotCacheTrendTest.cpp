#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <limits>
#include <tuple>

#include "core/telemetry/CachedDataFile.h"
#include "core/telemetry/CachedReadingTrend.h"
#include "core/telemetry/ReadingTrends.h"
#include "core/telemetry/TelemetryColumns.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

// A daily swing on top of the drift, as the chassis temperature gives the analog readings.
constexpr double kDailySwingVolts = 3.0;

// The projection of a file read through its plot cache against the fit over every record: the
// same date within a day, and the same text when there is no date.
TEST(PlotCacheTrendTest, ProjectionFromTheCacheIsTheOneOverEveryRecord) {
    // Each row: its name, the file (days, seconds between records, drift), the critical band
    // and the outlook of the fit over every record.
    const std::tuple<const char*, double, double, double, LimitBand, ELimitOutlook> cases[] = {
        {"rising to a high limit", 300, 300, 1.25, {std::nullopt, 2500.0}, ELimitOutlook::kDated},
        {"falling to a low limit", 300, 300, -1.25, {1600.0, 2500.0}, ELimitOutlook::kDated},
        {"two days", 2, 5, 1.25, {std::nullopt, 2500.0}, ELimitOutlook::kTooShort},
        {"falling from", 300, 1200, -1.25, {std::nullopt, 2500.0}, ELimitOutlook::kMovingAway},
        {"past it", 300, 1200, 2.0, {std::nullopt, 2500.0}, ELimitOutlook::kReached},
        {"a century away", 300, 1200, 0.001, {std::nullopt, 2500.0}, ELimitOutlook::kBeyondCentury},
    };
    const std::atomic<bool> never{false};
    for (const auto& [name, days, recordSeconds, voltsPerDay, critical, outlook] : cases) {
        SCOPED_TRACE(name);
        testing::TempDir dir;
        const auto path = dir.Path() / "Unit1234.csd";
        testing::WriteVemFile(path, days, recordSeconds, voltsPerDay, kDailySwingVolts);
        const ReadingLimit limit{"VEM", {std::nullopt, 9000.0}, critical};

        const auto scanned = ScanReadingTrends(path.string(), {limit},
                                               std::numeric_limits<std::uint64_t>::max(), never);
        ASSERT_TRUE(scanned);
        const LimitProjection expected = ProjectLimit(limit, scanned->front());
        ASSERT_EQ(expected.outlook, outlook);

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

}  // namespace
}  // namespace corvane3
