#pragma once
// The points a pane draws, read from where they live: a channel of a store against one of its
// time axes, or a fitted decay computed at each X on demand. Nothing is copied; the store must
// outlive the points.

#include <cmath>
#include <cstdint>

#include "core/plot/MinMaxPyramid.h"
#include "core/plot/PlotData.h"

namespace corvane3 {

// channel of store against time axis xUnit, over the store's current points.
class CStorePoints : public IPlotPoints {
  public:
    CStorePoints(const CPlotData& store, int xUnit, int channel)
        : store_(store), xUnit_(xUnit), x_(store.TimeAxis(xUnit)), y_(store.Channel(channel)) {}
    std::int64_t Count() const override { return store_.PointCount(); }
    double X(std::int64_t index) const override { return x_[index]; }
    double Y(std::int64_t index) const override { return y_[index]; }
    void AddRangeY(std::int64_t first, std::int64_t end, ValueRange& range) const override {
        y_.AddRange(first, end, range);
    }
    XKey SharedX() const override { return {&store_, store_.Generation(), xUnit_}; }
    bool OpenAtGaps() const override { return true; }

  private:
    const CPlotData& store_;
    int xUnit_;
    CPlotSeries x_;
    CPlotSeries y_;
};

// exp(slope × x + intercept) at the X values of points first..first+count-1 of x.
class CDecayFitPoints : public IPlotPoints {
  public:
    CDecayFitPoints(CPlotSeries x, std::int64_t first, std::int64_t count, double slope,
                    double intercept)
        : x_(x), first_(first), count_(count), slope_(slope), intercept_(intercept) {}
    std::int64_t Count() const override { return count_; }
    double X(std::int64_t index) const override { return x_[first_ + index]; }
    double Y(std::int64_t index) const override { return std::exp(slope_ * X(index) + intercept_); }

  private:
    CPlotSeries x_;
    std::int64_t first_;
    std::int64_t count_;
    double slope_;
    double intercept_;
};

}  // namespace corvane3
