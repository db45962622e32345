#pragma once
// Gaps in a recording: where the unit was not polled (the program or the PC was off, the link
// was down), consecutive records lie much further apart than the file's usual spacing. A line
// drawn across such a gap would look like data, so the plot leaves it open there.

#include <cstdint>

namespace corvane3 {

class IPlotPoints;

// Consecutive records further apart than this many times the median step are a gap.
inline constexpr double kGapMedianSteps = 5.0;

// The X distance beyond which two consecutive points of the first count points are a gap:
// kGapMedianSteps times the median step between consecutive X values. Series of more steps than
// a few thousand take the median of steps spread evenly over the whole series. Infinity (no
// gaps) for fewer than two steps, or when the median step is not positive.
double GapLimit(const IPlotPoints& points, std::int64_t count);

}  // namespace corvane3
