#pragma once
// What a series paints from its pixel columns. A line through every point paints, in each pixel
// column, one unbroken run of rows: from the column's lowest to its highest value, stretched to
// meet the line to each neighbouring column at the border. Those runs are painted as rectangles,
// whose cost hardly grows with their height (a polyline's does); lines remain only where empty
// columns lie between two points and towards the points beyond the area.

#include <QLineF>
#include <QRect>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "core/plot/MinMaxPyramid.h"

namespace corvane3 {

struct ColumnPaint {
    std::vector<QRect> runs;
    std::vector<QLineF> links;
};

struct ColumnPaintStyle {
    bool joined = true;  // false: the points alone, each run two pixels wide and unjoined
    // The points just outside the drawn columns, in pixels, joined to the first and last run.
    std::optional<QPointF> before;
    std::optional<QPointF> after;
    // Whether the points at two indices lie across a gap in the recording: no line joins two
    // columns with empty columns between them there. Empty: never.
    std::function<bool(std::int64_t lastBefore, std::int64_t firstAfter)> gapBetween;
};

// columns[c] is painted at pixel column left + c; pixelY gives a value's pixel Y (finite).
ColumnPaint PaintColumns(const std::vector<PlotColumn>& columns, int left,
                         const std::function<double(double)>& pixelY,
                         const ColumnPaintStyle& style);

}  // namespace corvane3
