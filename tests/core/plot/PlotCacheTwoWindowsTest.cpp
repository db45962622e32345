// Two windows on one telemetry file, each with the file's plot cache open: when one brings the
// cache up to date in place, the other still draws the extremes of its own records.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <vector>

#include "core/plot/PlotCache.h"
#include "core/telemetry/CachedDataFile.h"
#include "core/telemetry/TelemetryFormat.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

void AppendRecords(const std::filesystem::path& path, int first, int end) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    if (first == 0) {
        out << TelemetryHeaderLine(kModelTq9000) << kTelemetryLineEnd;
    }
    for (int i = first; i < end; ++i) {
        UnitStateData data = testing::SampleRecord();
        data.mjd = 60000.0 + i / 144.0;
        data.d1.cRamErr = (i * 37) % 1001 - 500;
        data.d1.tChassis = 35.5f + 0.25f * static_cast<float>(std::sin(i / 50.0));
        out << TelemetryRecordLine(data, kModelTq9000) << kTelemetryLineEnd;
    }
}

// The extremes of each of its channels, whole and in pieces, are those of its values.
void ExpectExtremesOfItsValues(const CPlotCache& cache) {
    const std::int64_t n = cache.RecordCount();
    constexpr int kPieces = 50;
    for (std::size_t c = 0; c < cache.Channels().size(); ++c) {
        const int channel = static_cast<int>(c);
        std::vector<double> values(static_cast<std::size_t>(n));
        ASSERT_TRUE(cache.Values(channel, 0, n, values.data()));
        ValueRange whole;
        for (int piece = 0; piece < kPieces; ++piece) {
            const std::int64_t first = n * piece / kPieces;
            const std::int64_t end = n * (piece + 1) / kPieces;
            ValueRange expected;
            for (std::int64_t i = first; i < end; ++i) {
                expected.Add(values[static_cast<std::size_t>(i)]);
            }
            whole.Add(expected);
            const ValueRange got = cache.Range(channel, first, end);
            EXPECT_EQ(got.min, expected.min) << "channel " << c << " piece " << piece;
            EXPECT_EQ(got.max, expected.max) << "channel " << c << " piece " << piece;
        }
        EXPECT_EQ(cache.Range(channel, 0, n).min, whole.min) << c;
        EXPECT_EQ(cache.Range(channel, 0, n).max, whole.max) << c;
    }
    EXPECT_FALSE(cache.Damaged());
}

TEST(PlotCacheTwoWindowsTest, AWindowDrawsItsOwnExtremesAfterTheOtherUpdatedTheCacheInPlace) {
    testing::TempDir dir;
    const std::filesystem::path file = dir.Path() / "unit.csd";
    CachedDataFileOptions options;
    options.cachePath = (dir.Path() / "unit.plotcache").string();
    // Records that end within a block, so that the update rewrites the file from there on.
    AppendRecords(file, 0, 40000);
    ASSERT_EQ(ReadDataFileCached(file.string(), options).read.status, EDataFileRead::kRead);
    const CachedDataFileResult first = ReadDataFileCached(file.string(), options);
    ASSERT_EQ(first.found, EPlotCacheOpen::kValid) << first.foundReason;

    AppendRecords(file, 40000, 70000);
    const CachedDataFileResult second = ReadDataFileCached(file.string(), options);
    ASSERT_EQ(second.found, EPlotCacheOpen::kValid) << second.foundReason;
    ASSERT_TRUE(second.writeMessage.empty()) << second.writeMessage;

    ExpectExtremesOfItsValues(*first.cache);
    ExpectExtremesOfItsValues(*second.cache);
    const CachedDataFileResult third = ReadDataFileCached(file.string(), options);
    ASSERT_EQ(third.found, EPlotCacheOpen::kValid) << third.foundReason;
    ExpectExtremesOfItsValues(*third.cache);
}

}  // namespace
}  // namespace corvane3
