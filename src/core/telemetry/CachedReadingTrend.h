#pragma once
// A reading's trend over a telemetry file read through its plot cache, from the cache's block
// summaries alone: no pass over the records, however many years the file holds.
//
// The cache keeps no sums of time times value, so the line is fitted through each block's
// centroid (its mean MJD and mean value over the records holding both), weighted by how many
// records that is. For a reading that drifts along a line every centroid lies on that line, so
// the slope is the one of the fit over every record; the spread within a block only adds noise.

#include "core/plot/PlotCache.h"
#include "core/telemetry/ReadingTrends.h"

namespace corvane3 {

// The trend of the cache's channel (an index into cache.Channels()); an empty trend (no fit)
// when the cache has no such channel or no MJD channel.
ReadingTrend CachedReadingTrend(const CPlotCache& cache, int channel);

}  // namespace corvane3
