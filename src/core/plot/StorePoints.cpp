#include "core/plot/StorePoints.h"

#include <cmath>

#include "core/plot/PlotCache.h"

namespace corvane3 {

namespace {
// Up to this many records a frame reads its values outright: the first and last value of each
// column are then exact.
constexpr std::int64_t kExactFrameRecords = std::int64_t{1} << 16;
}  // namespace

std::vector<PlotColumn> CStorePoints::SummaryColumns(const std::vector<double>& edges) const {
    const CPlotCache& cache = *store_.Cache();
    std::vector<double> mjdEdges;
    mjdEdges.reserve(edges.size());
    for (const double edge : edges) {
        mjdEdges.push_back(store_.AxisToMjd(xUnit_, edge));
    }
    const int channel = store_.CacheChannel(channel_);
    const int timeChannel = store_.CacheChannel(CPlotData::kAxis0Slot);
    std::vector<CPlotCache::RecordSpan> spans;
    std::vector<ValueRange> ranges =
        cache.FrameColumnsMjd(channel >= 0 ? channel : timeChannel, mjdEdges, &spans);
    std::vector<PlotColumn> columns(ranges.size());
    if (spans.size() != ranges.size() || ranges.empty()) {
        return columns;
    }
    // Where the clock stepped back a column's records need not be one stretch: its first and
    // last values are then not read.
    std::int64_t first = std::numeric_limits<std::int64_t>::max();
    std::int64_t end = 0;
    for (const CPlotCache::RecordSpan& span : spans) {
        if (span.first < span.end) {
            first = std::min(first, span.first);
            end = std::max(end, span.end);
        }
    }
    std::vector<double> values;
    if (channel >= 0 && cache.MjdOrdered() && first < end && end - first <= kExactFrameRecords) {
        values.resize(static_cast<std::size_t>(end - first));
        cache.Values(channel, first, end, values.data());
    }
    for (std::size_t c = 0; c < columns.size(); ++c) {
        PlotColumn& column = columns[c];
        column.first = spans[c].first;
        column.end = spans[c].end;
        if (column.first == column.end) {
            continue;
        }
        if (channel < 0) {
            column.range.Add(0.0);  // a channel the file does not have reads 0.0
            continue;
        }
        column.range = ranges[c];
        if (column.range.Empty()) {
            continue;
        }
        if (values.empty()) {
            // Over many records the first and last values are not read: the column's middle
            // stands for both, which the run from its lowest to its highest value covers anyway.
            column.firstY = column.lastY = (column.range.min + column.range.max) / 2.0;
            continue;
        }
        bool found = false;
        for (std::int64_t i = column.first; i < column.end; ++i) {
            const double y = values[static_cast<std::size_t>(i - first)];
            if (!std::isnan(y)) {
                column.firstY = found ? column.firstY : y;
                column.lastY = y;
                found = true;
            }
        }
    }
    return columns;
}

std::int64_t CStorePoints::SummaryLowerBound(double x) const {
    return store_.Cache()->LowerBoundMjd(store_.AxisToMjd(xUnit_, x));
}

}  // namespace corvane3
