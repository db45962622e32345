// Telemetry whose MJDs step back where the PC's clock was set back: a file read through its plot
// cache, and a live series that moved into one, give every value, statistic, search by time,
// frame and decay fit that the same points held in memory give, and a live series that steps
// back stays in its cache rather than in memory.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "core/plot/MinMaxPyramid.h"
#include "core/plot/PlotCache.h"
#include "core/plot/Statistics.h"
#include "core/telemetry/CachedDataFile.h"
#include "core/telemetry/TelemetryFormat.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"
#include "support/VectorPoints.h"

namespace corvane3 {
namespace {

constexpr double kSecond = 1.0 / 86400.0;
constexpr double kInterval = 600 * kSecond;  // one record every ten minutes
// Records older than the record before them, and by how much: a second (a time service's
// correction), an hour, and three days (back over times already recorded).
struct Step {
    int record;
    double olderBy;
};
const std::vector<Step> kSteps = {{1000, kSecond}, {17000, 1.0 / 24.0}, {30001, 3.0}};
constexpr int kRecords = 40000;  // over two blocks, so sealed blocks and the tail both count

// Record i: the decaying unit's, its MJD set back at each step.
UnitStateData Record(int i) {
    UnitStateData data = testing::DecayingRecord(i);
    for (const Step& step : kSteps) {
        data.mjd -= i >= step.record ? kInterval + step.olderBy : 0.0;
    }
    return data;
}

std::string Printed(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

// What the plot window takes for the first visible point of points held in memory: the first
// not before start, found by a pass from the first.
std::int64_t FirstNotBefore(const CPlotSeries& mjd, double start) {
    std::int64_t i = 0;
    while (i < mjd.Size() - 1 && mjd[i] < start) {
        ++i;
    }
    return i;
}

void ExpectSameAsMemory(const CPlotData& memory, const CPlotCache& cache) {
    const std::int64_t n = memory.PointCount();
    ASSERT_EQ(cache.RecordCount(), n);
    const CPlotSeries mjd = memory.TimeAxis(0);
    std::vector<std::int64_t> steps;
    std::vector<std::int64_t> made;
    for (std::int64_t i = 1; i < n; ++i) {
        if (mjd[i] < mjd[i - 1]) {
            steps.push_back(i);
        }
    }
    for (const Step& step : kSteps) {
        if (step.record < n) {
            made.push_back(step.record);
        }
    }
    ASSERT_EQ(steps, made);
    EXPECT_EQ(cache.MjdSteps(), steps);
    // Views that start before everything, after the last record, at the usual distances from
    // it, and in the middle of each stretch of time recorded twice; frames over everything and
    // over each of those stretches.
    const double last = mjd[n - 1];
    std::vector<double> starts = {mjd[0] - 1.0, last - 1.0, last - 1.0 / 24.0, last - 7.0, 1e9};
    std::vector<std::pair<double, double>> frames = {{mjd[0] - 4.0, last + 1.0}};
    for (const std::int64_t step : steps) {
        starts.push_back((mjd[step] + mjd[step - 1]) / 2.0);
        frames.emplace_back(mjd[step] - 0.1, mjd[step - 1] + 0.1);
    }
    std::vector<std::int64_t> firsts;
    for (const double start : starts) {
        const std::int64_t expected = FirstNotBefore(mjd, start);
        EXPECT_EQ(std::clamp<std::int64_t>(cache.LowerBoundMjd(start), 0, n - 1), expected)
            << "start " << Printed(start);
        firsts.push_back(expected);
    }
    for (const PlotCacheChannel& channel : cache.Channels()) {
        const int index = cache.ChannelIndex(channel.slot);
        const CPlotSeries series =
            channel.slot == CPlotData::kAxis0Slot ? mjd : memory.Channel(channel.slot);
        testing::VectorPoints points;
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
            EXPECT_EQ(Printed(got.mean), Printed(expected.mean)) << "slot " << channel.slot;
            EXPECT_EQ(Printed(got.sigma), Printed(expected.sigma)) << "slot " << channel.slot;
        }
        CPlotTrace trace;
        trace.Extend(points);
        for (const auto& [from, to] : frames) {
            std::vector<double> edges;
            constexpr int kColumns = 40;
            for (int c = 0; c <= kColumns; ++c) {
                edges.push_back(from + (to - from) * c / kColumns);
            }
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
        EXPECT_EQ(Printed(got.slope), Printed(expected.slope));
    }
}

TEST(PlotCacheClockStepTest, SeriesThatStepBackGiveInTheirCacheWhatMemoryGives) {
    testing::TempDir dir;
    const std::filesystem::path file = dir.Path() / "unit.csd";
    CachedDataFileOptions options;
    options.cachePath = (dir.Path() / "unit.plotcache").string();
    CPlotData memory;
    CPlotData live;
    CachedDataFileResult built;
    CachedDataFileResult reopened;
    const std::vector<std::pair<const char*, std::function<const CPlotCache*()>>> cases = {
        {"a file's cache just built",
         [&]() -> const CPlotCache* {
             testing::AppendCsdRecords(file, 0, 25000, Record);
             built = ReadDataFileCached(file.string(), options);
             ReadDataFile(memory, file.string());
             return built.cache.get();
         }},
        {"the same cache opened and brought up to date over a step",
         [&]() -> const CPlotCache* {
             testing::AppendCsdRecords(file, 25000, kRecords, Record);
             reopened = ReadDataFileCached(file.string(), options);
             EXPECT_EQ(reopened.found, EPlotCacheOpen::kValid) << reopened.foundReason;
             ReadDataFile(memory, file.string());
             return reopened.cache.get();
         }},
        {"a live series moved into a cache",
         [&]() -> const CPlotCache* {
             memory = CPlotData();
             memory.SetLivePointsBeforeCache(std::numeric_limits<std::int64_t>::max());
             live.SetLivePointsBeforeCache(4096);
             for (int i = 0; i < kRecords; ++i) {
                 memory.AppendLiveRecord(Record(i));
                 live.AppendLiveRecord(Record(i));
             }
             return live.Cache();
         }},
    };
    for (const auto& [name, make] : cases) {
        SCOPED_TRACE(name);
        const CPlotCache* cache = make();
        ASSERT_NE(cache, nullptr);
        ExpectSameAsMemory(memory, *cache);
    }
}

TEST(PlotCacheClockStepTest, ALiveSeriesThatStepsBackStaysWithinAMemoryLimit) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "sanitizers reserve memory beyond any limit";
#endif
    // Held in memory, these records would take about 100 MB; their cache takes a few.
    constexpr int kLiveRecords = 600000;
    constexpr long kBudgetBytes = 40L << 20;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The data the process holds now, plus the budget.
        long pages[7] = {};
        FILE* statm = std::fopen("/proc/self/statm", "r");
        const bool read = statm != nullptr && std::fscanf(statm, "%ld %ld %ld %ld %ld %ld %ld",
                                                          &pages[0], &pages[1], &pages[2],
                                                          &pages[3], &pages[4], &pages[5],
                                                          &pages[6]) == 7;
        if (!read) {
            ::_exit(2);
        }
        std::fclose(statm);
        const auto limit =
            static_cast<rlim_t>(pages[5] * ::sysconf(_SC_PAGESIZE) + kBudgetBytes);
        const rlimit data{limit, limit};
        if (::setrlimit(RLIMIT_DATA, &data) != 0) {
            ::_exit(2);
        }
        try {
            CPlotData store;
            store.SetLivePointsBeforeCache(4096);
            // The first step back comes before the points move into the cache; more follow.
            for (int i = 0; i < kLiveRecords; ++i) {
                UnitStateData record = Record(i);
                record.mjd -= (i >= 2000 ? 1 + (i - 2000) / 50000 : 0) * 2 * kInterval;
                store.AppendLiveRecord(record);
            }
            ::_exit(store.Cache() != nullptr && store.PointCount() == kLiveRecords ? 0 : 1);
        } catch (...) {
            ::_exit(3);  // out of memory; the rest of the tests belong to the parent
        }
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace corvane3
