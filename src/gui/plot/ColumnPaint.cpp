#include "gui/plot/ColumnPaint.h"

#include <algorithm>
#include <cmath>

namespace corvane3 {

namespace {

int Row(double pixelY) {
    return static_cast<int>(std::floor(pixelY));
}

void Stretch(int& top, int& bottom, int row) {
    top = std::min(top, row);
    bottom = std::max(bottom, row);
}

}  // namespace

ColumnPaint PaintColumns(const std::vector<PlotColumn>& columns, int left,
                         const std::function<double(double)>& pixelY,
                         const ColumnPaintStyle& style) {
    ColumnPaint paint;
    paint.runs.reserve(columns.size());
    const int runWidth = style.joined ? 1 : 2;
    // The last column with points, its run so far, and its last value. A column's points are
    // placed at its centre: reading their X would cost a cache miss per column, for less than a
    // pixel of difference.
    std::optional<std::size_t> previous;
    int top = 0;
    int bottom = 0;
    QPointF previousLast;
    // A run the same as the one before, beside it, widens that one: a noise band seen from afar
    // is then a few wide rectangles, which fill faster than many thin ones.
    const auto endRun = [&] {
        const QRect run(left + static_cast<int>(*previous), top, runWidth, bottom - top + 1);
        if (!paint.runs.empty()) {
            QRect& last = paint.runs.back();
            if (last.top() == run.top() && last.bottom() == run.bottom() &&
                last.right() + 1 >= run.left()) {
                last.setRight(run.right());
                return;
            }
        }
        paint.runs.push_back(run);
    };
    for (std::size_t c = 0; c < columns.size(); ++c) {
        const PlotColumn& column = columns[c];
        if (column.range.Empty()) {
            continue;
        }
        const double centre = left + static_cast<double>(c) + 0.5;
        const QPointF first(centre, pixelY(column.firstY));
        const int rowMin = Row(pixelY(column.range.min));
        const int rowMax = Row(pixelY(column.range.max));
        int runTop = std::min(rowMin, rowMax);
        int runBottom = std::max(rowMin, rowMax);
        if (style.joined) {
            if (previous && *previous + 1 == c) {
                // The line from the previous column's last value to this column's first: each
                // column paints its half, the row where it crosses the border in both.
                const int crossing = Row((previousLast.y() + first.y()) / 2.0);
                Stretch(top, bottom, crossing);
                Stretch(runTop, runBottom, crossing);
            } else if (previous) {
                if (!style.gapBetween ||
                    !style.gapBetween(columns[*previous].end - 1, column.first)) {
                    paint.links.emplace_back(previousLast, first);
                }
            } else if (style.before) {
                paint.links.emplace_back(*style.before, first);
            }
        }
        if (previous) {
            endRun();
        }
        previous = c;
        top = runTop;
        bottom = runBottom;
        previousLast = QPointF(centre, pixelY(column.lastY));
    }
    if (previous) {
        endRun();
        if (style.joined && style.after) {
            paint.links.emplace_back(previousLast, *style.after);
        }
    }
    return paint;
}

}  // namespace corvane3
