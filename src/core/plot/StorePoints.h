#pragma once
// The points a pane draws, read from where they live: a channel of a store against one of its
// time axes, or a fitted decay computed at each X on demand. Nothing is copied; the store must
// outlive the points.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "core/plot/MinMaxPyramid.h"
#include "core/plot/PlotData.h"

namespace corvane3 {

// channel of store against time axis xUnit, over the store's current points.
class CStorePoints : public IPlotPoints {
  public:
    CStorePoints(const CPlotData& store, int xUnit, int channel)
        : store_(store),
          xUnit_(xUnit),
          channel_(channel),
          x_(store.TimeAxis(xUnit)),
          y_(store.Channel(channel)) {}
    std::int64_t Count() const override { return store_.PointCount(); }
    double X(std::int64_t index) const override { return x_[index]; }
    double Y(std::int64_t index) const override { return y_[index]; }
    void AddRangeY(std::int64_t first, std::int64_t end, ValueRange& range) const override {
        y_.AddRange(first, end, range);
    }
    XKey SharedX() const override { return {&store_, store_.Generation(), xUnit_}; }
    bool OpenAtGaps() const override { return true; }
    // A store whose points live in a plot cache answers from the cache's summaries.
    bool SummarisedX() const override { return store_.Cache() != nullptr; }
    std::vector<PlotColumn> SummaryColumns(const std::vector<double>& edges) const override;
    std::int64_t SummaryLowerBound(double x) const override;

  private:
    const CPlotData& store_;
    int xUnit_;
    int channel_;
    CPlotSeries x_;
    CPlotSeries y_;
};

// exp(slope × x + intercept) at the X values of points first..first+count-1 of x. Over more
// than maxPoints points the curve is drawn through maxPoints X values spread evenly between the
// first and the last point's X (a line so smooth looks the same, and costs no pass over years of
// points).
class CDecayFitPoints : public IPlotPoints {
  public:
    CDecayFitPoints(CPlotSeries x, std::int64_t first, std::int64_t count, double slope,
                    double intercept,
                    std::int64_t maxPoints = std::numeric_limits<std::int64_t>::max())
        : x_(x),
          first_(first),
          count_(count),
          shown_(std::min(count, std::max<std::int64_t>(maxPoints, 2))),
          slope_(slope),
          intercept_(intercept) {
        if (shown_ < count_) {
            firstX_ = x_[first_];
            lastX_ = x_[first_ + count_ - 1];
        }
    }
    std::int64_t Count() const override { return shown_; }
    double X(std::int64_t index) const override {
        if (shown_ == count_) {
            return x_[first_ + index];
        }
        return index + 1 >= shown_ ? lastX_
                                   : firstX_ + (lastX_ - firstX_) * static_cast<double>(index) /
                                                   static_cast<double>(shown_ - 1);
    }
    double Y(std::int64_t index) const override { return std::exp(slope_ * X(index) + intercept_); }

  private:
    CPlotSeries x_;
    std::int64_t first_;
    std::int64_t count_;
    std::int64_t shown_;
    double firstX_ = 0.0;
    double lastX_ = 0.0;
    double slope_;
    double intercept_;
};

}  // namespace corvane3
