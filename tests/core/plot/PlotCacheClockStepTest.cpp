// Live telemetry whose MJDs step back where the PC's clock was set back: a series that moved into
// its plot cache gives every value, statistic, search by time, frame and decay fit that the same
// points held in memory give, and stays in its cache rather than in memory. (A file's cache over
// such steps: CachedDataFileTest.)

#include <gtest/gtest.h>

#include <limits>

#include "core/plot/PlotData.h"
#include "support/CacheAgreement.h"

namespace corvane3 {
namespace {

using testing::SteppedRecord;

TEST(PlotCacheClockStepTest, ALiveSeriesThatStepsBackGivesInItsCacheWhatMemoryGives) {
    constexpr int kRecords = 40000;  // over two blocks, so sealed blocks and the tail both count
    CPlotData memory;
    CPlotData live;
    memory.SetLivePointsBeforeCache(std::numeric_limits<std::int64_t>::max());
    live.SetLivePointsBeforeCache(4096);
    constexpr int kEarly = 10000;  // past the move into the cache, before the later steps
    std::size_t early = 0;
    for (int i = 0; i < kRecords; ++i) {
        if (i == kEarly) {
            early = live.MemoryBytes();
        }
        memory.AppendLiveRecord(SteppedRecord(i));
        live.AppendLiveRecord(SteppedRecord(i));
    }
    ASSERT_NE(live.Cache(), nullptr);
    // Held in memory, a record takes a few hundred bytes; in the cache a few dozen at most.
    EXPECT_LT(live.MemoryBytes(), early + (kRecords - kEarly) * 24) << early;
    EXPECT_EQ(live.Cache()->MjdSteps().size(), testing::kClockSteps.size());
    testing::ExpectCacheAgreesWithMemory(memory, *live.Cache());
}

}  // namespace
}  // namespace corvane3
