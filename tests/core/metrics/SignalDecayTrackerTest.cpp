// The beam signal's decay kept up to date over a run's telemetry file: the file's earlier records
// read once in the background, the run's records added as they are written, and the result the
// fit a summary of the whole file makes.

#include "core/metrics/SignalDecayTracker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <thread>

#include "core/plot/PlotData.h"
#include "core/telemetry/DataFileReader.h"
#include "core/telemetry/SignalDecayScan.h"
#include "core/telemetry/TelemetryFormat.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3::testing {
namespace {

// Record i of a unit whose clock signal falls by about 2 % a month, one record every 6 hours.
UnitStateData Record(int i) {
    UnitStateData data = SampleRecord();
    data.mjd = 60000.0 + i * 0.25;
    data.d1.cLevel = static_cast<std::int32_t>(
        std::lround(3000.0 * std::exp(-0.0007 * i * 0.25) + (i % 5) * 3.0));
    return data;
}

std::string Line(int i) {
    return TelemetryRecordLine(Record(i), kModelTq9000) + kTelemetryLineEnd;
}

TEST(SignalDecayTrackerTest, FileAndRunRecordsTogetherGiveTheSummarysFitAndProjection) {
    TempDir dir;
    const std::string path = (dir.Path() / "Unit1234.csd").string();
    constexpr int kFileRecords = 400;
    constexpr int kRunRecords = 40;
    {
        std::ofstream file(path, std::ios::binary);
        file << TelemetryHeaderLine(kModelTq9000) << kTelemetryLineEnd;
        for (int i = 0; i < kFileRecords; ++i) {
            file << Line(i);
        }
        file << Line(kFileRecords).substr(0, 50);  // a torn record: no point
    }
    CSignalDecayTracker tracker;
    tracker.Follow(path);
    {
        // The recorder mends the torn end, then appends the run's records.
        std::filesystem::resize_file(path, std::filesystem::file_size(path) - 50);
        std::ofstream file(path, std::ios::binary | std::ios::app);
        for (int i = kFileRecords; i < kFileRecords + kRunRecords; ++i) {
            file << Line(i);
            tracker.Add(*SignalPointOfLine(TelemetryRecordLine(Record(i), kModelTq9000)));
        }
    }
    tracker.Follow(path);  // the same file: nothing starts over
    SignalDecayEstimate estimate = tracker.Current();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!estimate.fileRead && std::chrono::steady_clock::now() < deadline) {
        EXPECT_FALSE(estimate.slopePerDay) << "no fit of the run's records alone";
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        estimate = tracker.Current();
    }
    ASSERT_TRUE(estimate.fileRead);
    // The fit --summary makes of the whole file: the reader's store, days from the first record.
    CPlotData store;
    ASSERT_EQ(ReadDataFile(store, path).status, EDataFileRead::kRead);
    const CPlotSeries days = store.TimeAxis(1);
    const CPlotSeries signal = store.Channel(kChannelSignal);
    const std::int64_t n = store.PointCount();
    const DecayFit summary =
        FitDecay([&](std::size_t i) { return days[static_cast<std::int64_t>(i)]; },
                 [&](std::size_t i) { return signal[static_cast<std::int64_t>(i)]; }, 0,
                 static_cast<std::size_t>(n - 1));
    ASSERT_TRUE(summary.valid);
    ASSERT_TRUE(estimate.slopePerDay);
    EXPECT_NEAR(*estimate.slopePerDay, summary.slope, 1e-12);
    ASSERT_TRUE(estimate.halvesMjd);
    EXPECT_NEAR(*estimate.halvesMjd, *HalfLifeMjd(summary, store.TimeAxis(0)[n - 1]), 1e-6);
    EXPECT_NEAR(estimate.spanDays, (kFileRecords + kRunRecords - 1) * 0.25, 1e-6);

    // Another file (another unit's, not there yet) starts over: nothing of the first is left.
    // Whether its first days are enough for a date, the projection's own tests pin.
    tracker.Follow((dir.Path() / "Unit99.csd").string());
    tracker.Add({61000.0, 100.0});
    for (estimate = tracker.Current(); !estimate.fileRead; estimate = tracker.Current()) {
        std::this_thread::yield();
    }
    EXPECT_FALSE(estimate.slopePerDay);
    EXPECT_EQ(estimate.spanDays, 0.0);
}

// A last line without its line end (a record being written) is no record yet.
TEST(SignalDecayTrackerTest, TheScanCountsOnlyRecordsWithTheirLineEnd) {
    TempDir dir;
    const std::string path = (dir.Path() / "Unit1234.csd").string();
    std::ofstream(path, std::ios::binary)
        << TelemetryHeaderLine(kModelTq9000) << kTelemetryLineEnd << Line(0) << Line(1) << Line(2);
    const auto size = std::filesystem::file_size(path);
    const std::atomic<bool> never{false};
    for (const auto& [end, records] : {std::pair(size, 3u), {size - 1, 2u}, {size - 2, 2u}}) {
        EXPECT_EQ(ScanSignalDecay(path, end, never).records, records) << end;
    }
}

}  // namespace
}  // namespace corvane3::testing
