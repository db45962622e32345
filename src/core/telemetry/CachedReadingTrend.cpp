#include "core/telemetry/CachedReadingTrend.h"

namespace corvane3 {

ReadingTrend CachedReadingTrend(const CPlotCache& cache, int channel) {
    ReadingTrend trend;
    for (const CPlotCache::PairedBlock& block : cache.PairedBlocks(channel)) {
        if (block.value.count == 0) {
            continue;
        }
        // The means from the double-double sums: MJDs and readings far from zero keep every
        // digit until the one rounding to double.
        const auto n = static_cast<double>(block.value.count);
        trend.fit.AddMean(DoubleDouble::Divide(block.mjd.sum, n).Value(),
                          DoubleDouble::Divide(block.value.sum, n).Value(),
                          static_cast<std::size_t>(block.value.count), block.mjd.range.min,
                          block.mjd.range.max);
        // The latest time with a value: the last record's while the clock never stepped back.
        trend.lastMjd = block.mjd.range.max;
    }
    return trend;
}

}  // namespace corvane3
