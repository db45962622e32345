// Live telemetry whose MJDs step back where the PC's clock was set back: a series that moved into
// its plot cache gives every value, statistic, search by time, frame and decay fit that the same
// points held in memory give, and stays in its cache rather than in memory. (A file's cache over
// such steps: CachedDataFileTest.)

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <limits>

#include "core/plot/PlotData.h"
#include "support/CacheAgreement.h"

namespace corvane3 {
namespace {

using testing::SteppedRecord;

TEST(PlotCacheClockStepTest, ALiveSeriesThatStepsBackGivesInItsCacheWhatMemoryGives) {
    constexpr int kRecords = 40000;  // over two blocks, so sealed blocks and the tail both count
    CPlotData memory, live;
    memory.SetLivePointsBeforeCache(std::numeric_limits<std::int64_t>::max());
    live.SetLivePointsBeforeCache(4096);
    for (int i = 0; i < kRecords; ++i) {
        memory.AppendLiveRecord(SteppedRecord(i));
        live.AppendLiveRecord(SteppedRecord(i));
    }
    ASSERT_NE(live.Cache(), nullptr);
    EXPECT_EQ(live.Cache()->MjdSteps().size(), testing::kClockSteps.size());
    testing::ExpectCacheAgreesWithMemory(memory, *live.Cache());
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
        // The data the process holds now (the sixth field of statm), plus the budget.
        long dataPages = 0;
        FILE* statm = std::fopen("/proc/self/statm", "r");
        if (statm == nullptr || std::fscanf(statm, "%*d %*d %*d %*d %*d %ld", &dataPages) != 1) {
            ::_exit(2);
        }
        std::fclose(statm);
        const auto limit = static_cast<rlim_t>(dataPages * ::sysconf(_SC_PAGESIZE) + kBudgetBytes);
        const rlimit data{limit, limit};
        if (::setrlimit(RLIMIT_DATA, &data) != 0) {
            ::_exit(2);
        }
        try {
            CPlotData store;
            store.SetLivePointsBeforeCache(4096);
            // The first step back comes before the points move into the cache; more follow.
            for (int i = 0; i < kLiveRecords; ++i) {
                UnitStateData record = SteppedRecord(i);
                record.mjd -=
                    (i >= 2000 ? 1 + (i - 2000) / 50000 : 0) * 2 * testing::kClockInterval;
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
