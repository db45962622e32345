#pragma once
// What a pane draws of a long series: for each pixel column the points falling in it reduced to
// their first, last, lowest and highest value. A min/max pyramid over the values makes each
// column cost O(log N), so a frame costs the same for 100k points as for millions, and the
// pyramid is extended point by point as live points arrive.
//
//   CPlotTrace trace;
//   trace.Extend(points);                       // after every append
//   auto columns = trace.Columns(points, edges);  // edges: the X value at each column border

#include <cstdint>
#include <limits>
#include <vector>

#include "core/plot/ValueRange.h"

namespace corvane3 {

struct PlotColumn;

// The points of one series, read where they live; nothing is copied.
class IPlotPoints {
  public:
    virtual ~IPlotPoints() = default;
    virtual std::int64_t Count() const = 0;
    virtual double X(std::int64_t index) const = 0;
    virtual double Y(std::int64_t index) const = 0;
    // Adds Y of points first..end-1 to range; a store reads its values in one tight loop.
    virtual void AddRangeY(std::int64_t first, std::int64_t end, ValueRange& range) const {
        for (std::int64_t i = first; i < end; ++i) {
            range.Add(Y(i));
        }
    }
    // Series whose X values are the same array give the same non-null key, so that panes
    // drawing them side by side can share the search for their column borders.
    struct XKey {
        const void* source = nullptr;
        std::uint64_t generation = 0;  // of the source's points
        int axis = 0;
        bool operator==(const XKey&) const = default;
    };
    virtual XKey SharedX() const { return {}; }
    // True for records taken at intervals: where the recording has a gap the line stays open.
    virtual bool OpenAtGaps() const { return false; }

    // Points that keep summaries of their own (a plot cache) answer the column and search
    // queries themselves; a trace of them then holds nothing per point. Their X must be sorted.
    virtual bool SummarisedX() const { return false; }
    // As CPlotTrace::Columns and CPlotTrace::LowerBound; called only when SummarisedX().
    virtual std::vector<PlotColumn> SummaryColumns(const std::vector<double>& edges) const;
    virtual std::int64_t SummaryLowerBound(double x) const;
};

// Min and max of every aligned block of 2^k leaves, for every k, over a growing series.
class CMinMaxPyramid {
  public:
    // Points per leaf block; a range's two ragged ends are scanned point by point.
    static constexpr std::int64_t kLeafPoints = 32;

    void Clear();
    // Takes points Size() .. count-1 of y into the pyramid (the last partial blocks are redone).
    void Extend(const IPlotPoints& points, std::int64_t count);
    std::int64_t Size() const { return size_; }
    // Min and max of y over [first, end), NaN skipped; empty when no value is present.
    ValueRange Range(const IPlotPoints& points, std::int64_t first, std::int64_t end) const;

  private:
    // Leaves per superblock. A range over several superblocks takes the extremes of its first
    // and last superblock from one entry each (fromStart_, toEnd_) and walks the levels only
    // above the superblocks: a pixel column of a long series then reads a few cache lines, not
    // two per level.
    static constexpr std::int64_t kSuperblockLeaves = 64;
    void UpdateSuperblocks(std::int64_t firstChangedLeaf);

    std::vector<std::vector<ValueRange>> levels_;  // level 0: leaves; level k: 2^k leaves each
    std::vector<ValueRange> fromStart_;            // leaf j: its superblock's leaves up to j
    std::vector<ValueRange> toEnd_;                // leaf j: its superblock's leaves from j on
    std::int64_t size_ = 0;
};

// One pixel column: the points first..end-1 fall in it.
struct PlotColumn {
    std::int64_t first = 0;
    std::int64_t end = 0;
    double firstY = 0.0;  // y of the first and last present values in the column
    double lastY = 0.0;
    ValueRange range;
};

// A series prepared for drawing by pixel columns.
class CPlotTrace {
  public:
    void Clear();
    // Follows the points up to points.Count(): pyramid extended, X order checked.
    void Extend(const IPlotPoints& points);
    std::int64_t Size() const { return summarised_ >= 0 ? summarised_ : pyramid_.Size(); }
    // True while every X is at least the one before it (a time axis normally is).
    bool SortedX() const { return sorted_; }

    // Column c holds the points with edges[c] <= x < edges[c+1] (edges ascending). Columns
    // without points have end == first. Cost: O(columns × log N) when X is sorted, one pass
    // over the points otherwise.
    std::vector<PlotColumn> Columns(const IPlotPoints& points,
                                    const std::vector<double>& edges) const;
    // The first index whose X is not below x (Count() when none), for sorted X. With from, the
    // answer is known to be at least from, and it is looked for from there outwards.
    std::int64_t LowerBound(const IPlotPoints& points, double x, std::int64_t from = 0) const;

  private:
    CMinMaxPyramid pyramid_;
    // X of the first point of every leaf block: a search for an X looks here first, in a small
    // array that stays in the cache, then within one block.
    std::vector<double> leafX_;
    std::int64_t summarised_ = -1;  // the point count of points that summarise themselves
    bool sorted_ = true;
    double lastX_ = -std::numeric_limits<double>::infinity();
};

}  // namespace corvane3
