// A telemetry file read through its plot cache gives what reading it into memory gives, however
// the cache was found: missing, valid, behind the file, or brought up to date by another window's
// cache. (A cache the opening rejects is rebuilt as a missing one is; the rejections:
// PlotCacheTest.)

#include "core/telemetry/CachedDataFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#include "core/plot/StaleCacheTemporaries.h"
#include "core/telemetry/TelemetryFormat.h"
#include "support/CacheAgreement.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

class CachedDataFileTest : public ::testing::Test {
  protected:
    std::filesystem::path File() const { return dir_.Path() / "unit.csd"; }
    std::string CachePath() const { return (dir_.Path() / "cache" / "unit.plotcache").string(); }

    CachedDataFileResult Load(const std::string& cachePath = {}) const {
        CachedDataFileOptions options;
        options.cachePath = cachePath.empty() ? CachePath() : cachePath;
        return ReadDataFileCached(File().string(), options);
    }

    CPlotData InMemory() const {
        CPlotData direct;
        EXPECT_EQ(ReadDataFile(direct, File().string()).status, EDataFileRead::kRead);
        return direct;
    }

    // The cache holds the file as reading it into memory does.
    void ExpectSameAsInMemory(const CachedDataFileResult& result) const {
        ASSERT_EQ(result.read.status, EDataFileRead::kRead);
        testing::ExpectCacheAgreesWithMemory(InMemory(), *result.cache);
    }

    testing::TempDir dir_;
};

// Over two blocks of records, so that sealed blocks, the tail and their summaries all count; not
// over four, where frames over the whole file would be drawn from leaves rather than exactly.
constexpr int kRecords = 40000;

// The records' MJDs step back where the PC's clock was set back, the last step in the records
// appended to a cache already written. Then two windows on the file, each with its cache open:
// when one brings the cache up to date in place, the other still reads its own records.
TEST_F(CachedDataFileTest, FreshReopenedAppendedAndInPlaceUpdatedCachesAgreeWithMemory) {
    testing::AppendCsdRecords(File(), 0, 25000, testing::SteppedRecord);
    const CachedDataFileResult fresh = Load();
    EXPECT_EQ(fresh.found, EPlotCacheOpen::kMissing);
    EXPECT_EQ(fresh.parsedRecords, 25000);
    EXPECT_TRUE(fresh.writeMessage.empty()) << fresh.writeMessage;
    EXPECT_NE(fresh.read.progressText.find("NumPoints = 25000"), std::string::npos);
    ExpectSameAsInMemory(fresh);

    const CachedDataFileResult reopened = Load();
    EXPECT_EQ(reopened.found, EPlotCacheOpen::kValid);
    EXPECT_EQ(reopened.parsedRecords, 0);
    ExpectSameAsInMemory(reopened);

    testing::AppendCsdRecords(File(), 25000, kRecords, testing::SteppedRecord);
    const CachedDataFileResult appended = Load();
    EXPECT_EQ(appended.found, EPlotCacheOpen::kValid) << appended.foundReason;
    EXPECT_EQ(appended.parsedRecords, kRecords - 25000);
    ExpectSameAsInMemory(appended);
    EXPECT_EQ(appended.cache->MjdSteps().size(), testing::kClockSteps.size());

    // The first window's records end within a block: the update rewrites the file from there on.
    const CachedDataFileResult first = Load();
    ASSERT_EQ(first.found, EPlotCacheOpen::kValid) << first.foundReason;
    EXPECT_EQ(first.parsedRecords, 0);
    const CPlotData before = InMemory();
    testing::AppendCsdRecords(File(), kRecords, kRecords + 20000);
    const CachedDataFileResult second = Load();
    ASSERT_EQ(second.found, EPlotCacheOpen::kValid) << second.foundReason;
    ASSERT_TRUE(second.writeMessage.empty()) << second.writeMessage;
    testing::ExpectCacheAgreesWithMemory(before, *first.cache);
    ExpectSameAsInMemory(second);
    const CachedDataFileResult third = Load();
    ASSERT_EQ(third.found, EPlotCacheOpen::kValid) << third.foundReason;
    ExpectSameAsInMemory(third);
}

// A first read hands over the shown channels before it reads the others: both caches hold what
// memory holds. Stopped once they came, it writes nothing.
TEST_F(CachedDataFileTest, TheShownChannelsComeFirstAndACancelledReadWritesNothing) {
    testing::AppendCsdRecords(File(), 0, kRecords, testing::SteppedRecord);
    std::unique_ptr<CPlotCache> shown;
    CachedDataFileOptions options;
    options.cachePath = CachePath();
    options.shownSlots = {3, kChannelSignal};
    options.preview = [&](std::unique_ptr<CPlotCache> cache, const TelemetryIdentity&) {
        shown = std::move(cache);
    };
    const CachedDataFileResult whole = ReadDataFileCached(File().string(), options);
    ASSERT_NE(shown, nullptr);
    ASSERT_EQ(shown->Channels().size(), 3u);
    EXPECT_GE(shown->ChannelIndex(CPlotData::kAxis0Slot), 0);
    EXPECT_GE(shown->ChannelIndex(3), 0);
    testing::ExpectCacheAgreesWithMemory(InMemory(), *shown);  // the decay fit's channels too
    ExpectSameAsInMemory(whole);
    EXPECT_EQ(Load().found, EPlotCacheOpen::kValid);

    std::filesystem::remove_all(dir_.Path() / "cache");
    std::atomic<bool> cancel{false};
    options.cancel = &cancel;
    options.preview = [&](std::unique_ptr<CPlotCache>, const TelemetryIdentity&) { cancel = true; };
    EXPECT_TRUE(ReadDataFileCached(File().string(), options).cancelled);
    EXPECT_TRUE(std::filesystem::is_empty(dir_.Path() / "cache"));
}

TEST_F(CachedDataFileTest, AnUnwritableCacheOnlyCostsTimeAndAnUnfinishedLineIsNotCachedTwice) {
    testing::AppendCsdRecords(File(), 0, 500);
    // A cache folder that is a file: no one can write there, root included.
    std::ofstream(dir_.Path() / "blocker") << "file";
    const std::string unwritable = (dir_.Path() / "blocker" / "x").string();
    const CachedDataFileResult unwritten = Load(unwritable);
    EXPECT_NE(unwritten.writeMessage.find("Plot cache not written: " + unwritable + ": "),
              std::string::npos)
        << unwritten.writeMessage;
    ExpectSameAsInMemory(unwritten);

    // The recorder's line cut short, still being written: read, but kept out of the cache.
    const std::string line = TelemetryRecordLine(testing::DecayingRecord(500), kModelTq9000);
    std::ofstream(File(), std::ios::binary | std::ios::app) << line;
    CachedDataFileResult result = Load();
    EXPECT_EQ(result.cache->RecordCount(), 501);
    ExpectSameAsInMemory(result);
    std::ofstream(File(), std::ios::binary | std::ios::app) << kTelemetryLineEnd;
    testing::AppendCsdRecords(File(), 501, 510);
    result = Load();
    EXPECT_EQ(result.found, EPlotCacheOpen::kValid);
    EXPECT_EQ(result.cache->RecordCount(), 510);
    ExpectSameAsInMemory(result);
}

TEST_F(CachedDataFileTest, OnlyOurOwnStaleTemporariesAreRemovedWhenTheCacheFolderIsUsed) {
    testing::AppendCsdRecords(File(), 0, 50);
    const std::filesystem::path folder = std::filesystem::path(CachePath()).parent_path();
    std::filesystem::create_directories(folder);
    const auto old = std::filesystem::file_time_type::clock::now() - kStaleCacheTemporaryAge -
                     std::chrono::minutes(1);
    const std::tuple<const char*, bool, bool> files[] = {
        {"0123456789abcdef.plotcache.Ab12Cd", true, true},    // a killed build's
        {"0123456789abcdef.plotcache.new42-0", true, true},   // killed before its rename
        {"0123456789abcdef.plotcache.Zz9999", false, false},  // perhaps a build under way
        {"fedcba9876543210.plotcache.Q1w2E3", true, false},   // held open below
        {"0123456789abcdef.plotcache", true, false},          // a cache
        {"notes.plotcache.Ab12Cd", true, false},              // not a cache's name
        {"0123456789abcdef.plotcache.Ab12Cd7", true, false},
        {"0123456789abcdef.plotcache.new42-", true, false},
        {"0123456789abcdef.plotcache.keep.txt", true, false},
    };
    for (const auto& [name, stale, removed] : files) {
        std::ofstream(folder / name) << "partial";
        if (stale) {
            std::filesystem::last_write_time(folder / name, old);
        }
    }
    std::ifstream held(folder / "fedcba9876543210.plotcache.Q1w2E3");
    ASSERT_TRUE(held.is_open());

    Load();
    for (const auto& [name, stale, removed] : files) {
        EXPECT_NE(std::filesystem::exists(folder / name), removed) << name;
    }
    EXPECT_TRUE(std::filesystem::exists(folder / "unit.plotcache"));
}

}  // namespace
}  // namespace corvane3
