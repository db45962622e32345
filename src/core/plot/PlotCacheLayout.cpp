#include "core/plot/PlotCacheLayout.h"

#include <bit>

#include "core/base/WriteWhole.h"

namespace corvane3 {

static_assert(std::endian::native == std::endian::little, "the cache file is little-endian");
// The record sizes PlotCacheFormat.h gives.
static_assert(FileBytes<PlotCacheStoredChannel>() == kPlotCacheWord);
static_assert(FileBytes<BlockSummary>() == kPlotCacheSummaryWords * kPlotCacheWord);
static_assert(FileBytes<DecaySums>() == kPlotCacheDecayWords * kPlotCacheWord);
static_assert(FileBytes<ValueRange>() == 2 * kPlotCacheWord);
static_assert(FileBytes<PlotCacheMjdRun>() == kPlotCacheRunWords * kPlotCacheWord);

PlotCacheMetaLayout::PlotCacheMetaLayout(std::uint64_t channelCount, std::uint64_t blocks,
                                         std::uint64_t leafCount, std::uint64_t runCount)
    : channels(channelCount * FileBytes<PlotCacheStoredChannel>()),
      index(blocks * channelCount * sizeof(PlotCacheBlockEntry)),
      summaries(blocks * channelCount * FileBytes<BlockSummary>()),
      decay(blocks * FileBytes<DecaySums>()),
      leaves(channelCount * leafCount * FileBytes<ValueRange>()),
      runs(runCount * FileBytes<PlotCacheMjdRun>()) {}

PlotCacheMetaLayout LayoutOf(const PlotCacheHeader& header) {
    const auto records = static_cast<std::int64_t>(header.recordCount);
    return {header.channelCount,
            static_cast<std::uint64_t>(CeilDiv(records, header.blockRecords)),
            static_cast<std::uint64_t>(CeilDiv(records, header.leafRecords)), header.runCount};
}

std::int64_t PlotCacheMtimeNs(const struct stat& st) {
    constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * kNanosecondsPerSecond +
           st.st_mtim.tv_nsec;
}

bool WritePlotCacheBlockAt(int fd, std::string_view bytes, std::uint64_t offset) {
    static constexpr char kZeros[8] = {};
    const std::size_t padding = (8 - bytes.size() % 8) % 8;
    return WriteWholeAt(fd, bytes, offset) &&
           WriteWholeAt(fd, std::string_view(kZeros, padding), offset + bytes.size());
}

}  // namespace corvane3
