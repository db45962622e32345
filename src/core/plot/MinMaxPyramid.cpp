#include "core/plot/MinMaxPyramid.h"

#include <algorithm>
#include <cmath>

namespace corvane3 {

void CMinMaxPyramid::Clear() {
    levels_.clear();
    fromStart_.clear();
    toEnd_.clear();
    size_ = 0;
}

void CMinMaxPyramid::UpdateSuperblocks(std::int64_t firstChangedLeaf) {
    const std::vector<ValueRange>& leaves = levels_[0];
    const auto leafCount = static_cast<std::int64_t>(leaves.size());
    fromStart_.resize(leaves.size());
    toEnd_.resize(leaves.size());
    const auto at = [](std::vector<ValueRange>& v, std::int64_t i) -> ValueRange& {
        return v[static_cast<std::size_t>(i)];
    };
    // Every superblock from the one that changed is redone; only the last one is partial.
    for (std::int64_t start = firstChangedLeaf / kSuperblockLeaves * kSuperblockLeaves;
         start < leafCount; start += kSuperblockLeaves) {
        const std::int64_t end = std::min(leafCount, start + kSuperblockLeaves);
        ValueRange running;
        for (std::int64_t leaf = start; leaf < end; ++leaf) {
            running.Add(leaves[static_cast<std::size_t>(leaf)]);
            at(fromStart_, leaf) = running;
        }
        running = ValueRange{};
        for (std::int64_t leaf = end - 1; leaf >= start; --leaf) {
            running.Add(leaves[static_cast<std::size_t>(leaf)]);
            at(toEnd_, leaf) = running;
        }
    }
}

void CMinMaxPyramid::Extend(const IPlotPoints& points, std::int64_t count) {
    if (count <= size_) {
        return;
    }
    if (levels_.empty()) {
        levels_.emplace_back();
    }
    // Leaves: the last partial leaf is recomputed from its first point.
    const std::int64_t firstLeaf = size_ / kLeafPoints;
    const std::int64_t leafCount = (count + kLeafPoints - 1) / kLeafPoints;
    std::vector<ValueRange>& leaves = levels_[0];
    leaves.resize(static_cast<std::size_t>(leafCount));
    for (std::int64_t leaf = firstLeaf; leaf < leafCount; ++leaf) {
        ValueRange range;
        points.AddRangeY(leaf * kLeafPoints, std::min(count, (leaf + 1) * kLeafPoints), range);
        leaves[static_cast<std::size_t>(leaf)] = range;
    }
    UpdateSuperblocks(firstLeaf);
    // Upper levels: each block of a level is the union of two blocks of the level below.
    std::int64_t changedFrom = firstLeaf;
    for (std::size_t level = 1;; ++level) {
        const std::size_t below = levels_[level - 1].size();
        if (below <= 1) {
            levels_.resize(level);
            break;
        }
        if (levels_.size() <= level) {
            levels_.emplace_back();
        }
        std::vector<ValueRange>& upper = levels_[level];
        const std::vector<ValueRange>& lower = levels_[level - 1];
        upper.resize((below + 1) / 2);
        changedFrom /= 2;
        for (std::size_t block = static_cast<std::size_t>(changedFrom); block < upper.size();
             ++block) {
            ValueRange range = lower[2 * block];
            if (2 * block + 1 < below) {
                range.Add(lower[2 * block + 1]);
            }
            upper[block] = range;
        }
    }
    size_ = count;
}

ValueRange CMinMaxPyramid::Range(const IPlotPoints& points, std::int64_t first,
                                 std::int64_t end) const {
    ValueRange range;
    first = std::max<std::int64_t>(first, 0);
    end = std::min(end, size_);
    if (first >= end) {
        return range;
    }
    // Whole leaves through the superblocks and levels first, the ragged ends after.
    std::int64_t leafFirst = (first + kLeafPoints - 1) / kLeafPoints;
    std::int64_t leafEnd = end / kLeafPoints;
    if (leafFirst >= leafEnd) {
        points.AddRangeY(first, end, range);
        return range;
    }
    const std::int64_t raggedFirst = leafFirst - 1;  // the leaves holding the ragged ends
    const std::int64_t raggedLast = leafEnd;
    // Across superblocks: the partial first and last superblocks from one entry each.
    const std::int64_t superFirst = leafFirst / kSuperblockLeaves;
    const std::int64_t superLast = (leafEnd - 1) / kSuperblockLeaves;
    if (superFirst < superLast) {
        range.Add(toEnd_[static_cast<std::size_t>(leafFirst)]);
        range.Add(fromStart_[static_cast<std::size_t>(leafEnd - 1)]);
        leafFirst = (superFirst + 1) * kSuperblockLeaves;
        leafEnd = superLast * kSuperblockLeaves;
    }
    // Classic bottom-up walk: take an unpaired block at either end, then go up a level.
    for (std::size_t level = 0; leafFirst < leafEnd && level < levels_.size(); ++level) {
        const std::vector<ValueRange>& blocks = levels_[level];
        if (leafFirst & 1) {
            range.Add(blocks[static_cast<std::size_t>(leafFirst++)]);
        }
        if (leafEnd & 1) {
            range.Add(blocks[static_cast<std::size_t>(--leafEnd)]);
        }
        leafFirst /= 2;
        leafEnd /= 2;
    }
    // A ragged end is read point by point only when its leaf reaches beyond the range so far:
    // in a column of thousands of points it seldom does, and its values are then not fetched.
    const auto addRagged = [&](std::int64_t from, std::int64_t to, std::int64_t leaf) {
        if (from >= to) {
            return;
        }
        const ValueRange& whole = levels_[0][static_cast<std::size_t>(leaf)];
        if (whole.min < range.min || whole.max > range.max) {
            points.AddRangeY(from, to, range);
        }
    };
    addRagged(first, (raggedFirst + 1) * kLeafPoints, raggedFirst);
    addRagged(raggedLast * kLeafPoints, end, raggedLast);
    return range;
}

std::vector<PlotColumn> IPlotPoints::SummaryColumns(const std::vector<double>&) const {
    return {};
}

std::int64_t IPlotPoints::SummaryLowerBound(double) const {
    return 0;
}

void CPlotTrace::Clear() {
    pyramid_.Clear();
    leafX_.clear();
    summarised_ = -1;
    sorted_ = true;
    lastX_ = -std::numeric_limits<double>::infinity();
}

void CPlotTrace::Extend(const IPlotPoints& points) {
    const std::int64_t count = points.Count();
    if (points.SummarisedX()) {
        if (summarised_ < 0) {
            Clear();
        }
        summarised_ = count;
        return;
    }
    if (summarised_ >= 0) {
        Clear();
    }
    if (count < pyramid_.Size()) {
        Clear();  // the points were replaced by fewer
    }
    for (std::int64_t i = pyramid_.Size(); i < count && sorted_; ++i) {
        const double x = points.X(i);
        if (x < lastX_ || std::isnan(x)) {
            sorted_ = false;
        }
        lastX_ = x;
        if (i % CMinMaxPyramid::kLeafPoints == 0) {
            leafX_.push_back(x);
        }
    }
    pyramid_.Extend(points, count);
}

std::int64_t CPlotTrace::LowerBound(const IPlotPoints& points, double x, std::int64_t from) const {
    if (summarised_ >= 0) {
        return std::clamp<std::int64_t>(points.SummaryLowerBound(x), 0, summarised_);
    }
    // The first leaf starting at or after x; the answer is its first point or lies in the leaf
    // before it. Leaves before from's leaf start below x, so the search gallops from there.
    const auto leafCount = static_cast<std::int64_t>(leafX_.size());
    std::int64_t low = std::clamp<std::int64_t>(from / CMinMaxPyramid::kLeafPoints, 0, leafCount);
    std::int64_t high = low;
    for (std::int64_t step = 1; high < leafCount && leafX_[static_cast<std::size_t>(high)] < x;
         step *= 2) {
        low = high + 1;
        high = std::min(leafCount, high + step);
    }
    const auto leaf = static_cast<std::int64_t>(
        std::lower_bound(leafX_.begin() + low, leafX_.begin() + high, x) - leafX_.begin());
    if (leaf == 0) {
        return 0;
    }
    low = (leaf - 1) * CMinMaxPyramid::kLeafPoints;
    high = std::min(leaf * CMinMaxPyramid::kLeafPoints, pyramid_.Size());
    while (low < high) {
        const std::int64_t middle = low + (high - low) / 2;
        if (points.X(middle) < x) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

namespace {

// The first and last present values of a column, looked for from its ends.
void FindEndValues(const IPlotPoints& points, PlotColumn& column) {
    for (std::int64_t i = column.first; i < column.end; ++i) {
        const double y = points.Y(i);
        if (!std::isnan(y)) {
            column.firstY = y;
            break;
        }
    }
    for (std::int64_t i = column.end - 1; i >= column.first; --i) {
        const double y = points.Y(i);
        if (!std::isnan(y)) {
            column.lastY = y;
            break;
        }
    }
}

}  // namespace

std::vector<PlotColumn> CPlotTrace::Columns(const IPlotPoints& points,
                                            const std::vector<double>& edges) const {
    std::vector<PlotColumn> columns;
    if (edges.size() < 2) {
        return columns;
    }
    if (summarised_ >= 0) {
        return points.SummaryColumns(edges);
    }
    columns.resize(edges.size() - 1);
    if (sorted_) {
        // All borders first, each searched from the one before. Panes of one X axis have the
        // same borders; the last search is kept for the next pane.
        struct BorderCache {
            IPlotPoints::XKey key;
            std::int64_t count = -1;
            std::vector<double> edges;
            std::vector<std::int64_t> borders;
        };
        thread_local BorderCache cache;
        const IPlotPoints::XKey key = points.SharedX();
        const bool shared = key.source != nullptr;
        if (!shared || !(cache.key == key) || cache.count != Size() || cache.edges != edges) {
            cache.borders.resize(edges.size());
            std::int64_t border = 0;
            for (std::size_t e = 0; e < edges.size(); ++e) {
                border = LowerBound(points, edges[e], border);
                cache.borders[e] = border;
            }
            cache.key = shared ? key : IPlotPoints::XKey{};
            cache.count = Size();
            cache.edges = edges;
        }
        const std::vector<std::int64_t>& borders = cache.borders;
        // The end values first, in a loop of their own: its reads do not wait on each other,
        // so their cache misses overlap.
        for (std::size_t c = 0; c < columns.size(); ++c) {
            PlotColumn& column = columns[c];
            column.first = borders[c];
            column.end = std::max(borders[c], borders[c + 1]);
            FindEndValues(points, column);
        }
        for (PlotColumn& column : columns) {
            if (column.end > column.first) {
                column.range = pyramid_.Range(points, column.first, column.end);
            }
        }
        return columns;
    }
    // Unordered X: every point goes to its column in one pass; first and end then only bound
    // the indices seen, and firstY/lastY are the values of the lowest and highest index.
    for (PlotColumn& column : columns) {
        column.first = pyramid_.Size();
        column.end = 0;
    }
    for (std::int64_t i = 0; i < pyramid_.Size(); ++i) {
        const double x = points.X(i);
        if (!(x >= edges.front() && x < edges.back())) {
            continue;
        }
        const auto c = static_cast<std::size_t>(std::upper_bound(edges.begin(), edges.end(), x) -
                                                edges.begin() - 1);
        PlotColumn& column = columns[c];
        const double y = points.Y(i);
        if (std::isnan(y)) {
            continue;
        }
        if (column.range.Empty()) {
            column.firstY = y;
            column.first = i;
        }
        column.range.Add(y);
        column.lastY = y;
        column.end = i + 1;
    }
    for (PlotColumn& column : columns) {
        if (column.range.Empty()) {
            column.first = column.end = 0;
        }
    }
    return columns;
}

}  // namespace corvane3
