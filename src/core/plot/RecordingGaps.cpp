#include "core/plot/RecordingGaps.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "core/plot/MinMaxPyramid.h"

namespace corvane3 {

namespace {
// Steps taken for the median: enough for a steady estimate, few enough to take at every live
// record of a years-long file.
constexpr std::int64_t kMedianSampleSteps = 4096;
constexpr std::int64_t kSummarisedRunSteps = 128;
}  // namespace

double GapLimit(const IPlotPoints& points, std::int64_t count) {
    constexpr double kNoGaps = std::numeric_limits<double>::infinity();
    const std::int64_t steps = count - 1;
    if (steps < 2) {
        return kNoGaps;
    }
    const std::int64_t taken = std::min(steps, kMedianSampleSteps);
    // Points that summarise themselves are read block by block: their steps are taken in runs
    // of consecutive ones, so that few blocks are read.
    const std::int64_t run = points.SummarisedX() ? kSummarisedRunSteps : 1;
    std::vector<double> sample;
    sample.reserve(static_cast<std::size_t>(taken));
    for (std::int64_t k = 0; k < taken; k += run) {
        const std::int64_t first = k * steps / taken;  // step i runs from point i to point i + 1
        for (std::int64_t i = first; i < std::min(first + run, steps); ++i) {
            const double step = points.X(i + 1) - points.X(i);
            if (std::isfinite(step)) {
                sample.push_back(step);
            }
        }
    }
    if (sample.empty()) {
        return kNoGaps;
    }
    const auto middle = sample.begin() + static_cast<std::ptrdiff_t>(sample.size() / 2);
    std::nth_element(sample.begin(), middle, sample.end());
    const double median = *middle;
    return median > 0.0 ? kGapMedianSteps * median : kNoGaps;
}

}  // namespace corvane3
