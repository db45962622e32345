#pragma once
// Points of a series held in two vectors, for tests of what draws series.

#include <cstdint>
#include <vector>

#include "core/plot/MinMaxPyramid.h"

namespace corvane3::testing {

struct VectorPoints : IPlotPoints {
    std::vector<double> x, y;
    std::int64_t Count() const override { return static_cast<std::int64_t>(x.size()); }
    double X(std::int64_t i) const override { return x[static_cast<std::size_t>(i)]; }
    double Y(std::int64_t i) const override { return y[static_cast<std::size_t>(i)]; }
};

}  // namespace corvane3::testing
