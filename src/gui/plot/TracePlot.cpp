#include "gui/plot/TracePlot.h"

#include "core/plot/RecordingGaps.h"
#include "gui/plot/ColumnPaint.h"
#include "gui/plot/UtcTimeTicker.h"

#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <algorithm>
#include <cmath>
#include <limits>

namespace corvane3 {

namespace {

// With fewer visible points than this many per pixel column, each point is drawn itself.
constexpr std::int64_t kPointsPerColumnForReduction = 2;
// Pixels beyond the plotting area that a line may reach; values further out are clamped so
// that infinite or huge values never reach the painter.
constexpr double kClampMargin = 4096.0;
// Size in pixels of a point drawn alone.
constexpr double kPointWidth = 2.0;
// Samples a Shift+arrow moves the cursor.
constexpr std::int64_t kLargeCursorStep = 10;
// Share of the X range that Ctrl+Left/Right pans, and the zoom factor of one key or wheel step.
constexpr double kPanShare = 0.1;
constexpr double kZoomStep = 0.85;
// Room for the Y tick labels and title, the same on every pane so that stacked panes line up.
constexpr int kLeftMargin = 96;
// Tick labels show this many digits beyond those that tell the ticks apart.
constexpr int kMaxTickDecimals = 6;
const QColor kCursorColours[TracePlot::kCursors] = {QColor(200, 0, 0), QColor(0, 0, 200)};

double Clamp(double pixel, double low, double high) {
    if (std::isnan(pixel)) {
        return low;
    }
    return std::clamp(pixel, low - kClampMargin, high + kClampMargin);
}

}  // namespace

CTraceSeries::CTraceSeries(QCPAxis* keyAxis, QCPAxis* valueAxis,
                           std::shared_ptr<const IPlotPoints> points)
    : QCPAbstractPlottable(keyAxis, valueAxis), points_(std::move(points)) {
    Update();
}

void CTraceSeries::Update() {
    trace_.Extend(*points_);
    gapLimit_ = points_->OpenAtGaps() ? GapLimit(*points_, trace_.Size())
                                      : std::numeric_limits<double>::infinity();
}

void CTraceSeries::SetPoints(std::shared_ptr<const IPlotPoints> points) {
    points_ = std::move(points);
    trace_.Clear();
    Update();
}

std::vector<double> CTraceSeries::ColumnEdges() const {
    std::vector<double> edges;
    const QCPAxis* key = mKeyAxis.data();
    if (!key) {
        return edges;
    }
    const QRect area = clipRect();
    const int width = area.width();
    if (width <= 0) {
        return edges;
    }
    edges.reserve(static_cast<std::size_t>(width) + 1);
    for (int c = 0; c <= width; ++c) {
        edges.push_back(key->pixelToCoord(area.left() + c));
    }
    if (edges.front() > edges.back()) {
        std::reverse(edges.begin(), edges.end());
    }
    return edges;
}

std::vector<PlotColumn> CTraceSeries::VisibleColumns() const {
    return trace_.Columns(*points_, ColumnEdges());
}

void CTraceSeries::draw(QCPPainter* painter) {
    const QCPAxis* key = mKeyAxis.data();
    const QCPAxis* value = mValueAxis.data();
    const std::int64_t count = trace_.Size();
    if (!key || !value || count == 0) {
        return;
    }
    const QRect area = clipRect();
    const double top = area.top();
    const double bottom = area.bottom();
    const double left = area.left();
    const double right = area.right();
    const auto pixel = [&](double x, double y) {
        return QPointF(Clamp(key->coordToPixel(x), left, right),
                       Clamp(value->coordToPixel(y), top, bottom));
    };
    applyDefaultAntialiasingHint(painter);
    QPen pen = mPen;
    if (style_ == kTracePoints) {
        pen.setWidthF(kPointWidth);  // a single pixel is hard to see
    }
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);

    const std::vector<double> edges = ColumnEdges();
    if (edges.size() < 2) {
        return;
    }
    const IPlotPoints& points = *points_;
    const auto gapBetween = [&](std::int64_t before, std::int64_t after) {
        return points.X(after) - points.X(before) > gapLimit_;
    };
    ColumnPaintStyle paintStyle;
    paintStyle.joined = style_ != kTracePoints;
    if (trace_.SortedX()) {
        paintStyle.gapBetween = gapBetween;
    }
    if (trace_.SortedX()) {
        // Few visible points: every point, with one neighbour outside on each side so that
        // lines leave the area as they would.
        const std::int64_t visibleFirst = trace_.LowerBound(points, edges.front());
        const std::int64_t visibleEnd = trace_.LowerBound(points, edges.back());
        const std::int64_t first = std::max<std::int64_t>(0, visibleFirst - 1);
        const std::int64_t end = std::min(count, visibleEnd + 1);
        const auto columns = static_cast<std::int64_t>(edges.size() - 1);
        if (end - first <= kPointsPerColumnForReduction * columns) {
            // One polyline per stretch of recording between gaps.
            std::vector<QPointF> line;
            const auto drawLine = [&] {
                // A record alone between two gaps is still shown.
                if (style_ == kTracePoints || line.size() == 1) {
                    painter->drawPoints(line.data(), static_cast<int>(line.size()));
                } else {
                    painter->drawPolyline(line.data(), static_cast<int>(line.size()));
                }
                line.clear();
            };
            std::int64_t previous = -1;
            for (std::int64_t i = first; i < end; ++i) {
                const double y = points.Y(i);
                if (std::isnan(y)) {
                    continue;
                }
                if (previous >= 0 && gapBetween(previous, i)) {
                    drawLine();
                }
                line.push_back(pixel(points.X(i), y));
                previous = i;
            }
            drawLine();
            return;
        }
        if (first < visibleFirst && !std::isnan(points.Y(first)) &&
            !gapBetween(first, visibleFirst)) {
            paintStyle.before = pixel(points.X(first), points.Y(first));
        }
        if (visibleEnd < count && !std::isnan(points.Y(visibleEnd)) &&
            !gapBetween(visibleEnd - 1, visibleEnd)) {
            paintStyle.after = pixel(points.X(visibleEnd), points.Y(visibleEnd));
        }
    }
    const ColumnPaint paint = PaintColumns(
        trace_.Columns(points, edges), area.left(),
        [&](double y) { return Clamp(value->coordToPixel(y), top, bottom); }, paintStyle);
    painter->setPen(Qt::NoPen);
    painter->setBrush(pen.color());
    painter->drawRects(paint.runs.data(), static_cast<int>(paint.runs.size()));
    painter->setPen(pen);
    painter->drawLines(paint.links.data(), static_cast<int>(paint.links.size()));
}

void CTraceSeries::drawLegendIcon(QCPPainter* painter, const QRectF& rect) const {
    painter->setPen(mPen);
    painter->drawLine(QLineF(rect.left(), rect.center().y(), rect.right(), rect.center().y()));
}

double CTraceSeries::selectTest(const QPointF&, bool, QVariant*) const {
    return -1.0;  // series are not selectable
}

QCPRange CTraceSeries::getKeyRange(bool& foundRange, QCP::SignDomain) const {
    ValueRange range;
    for (std::int64_t i : {std::int64_t{0}, trace_.Size() - 1}) {
        if (i >= 0) {
            range.Add(points_->X(i));
        }
    }
    foundRange = !range.Empty();
    return foundRange ? QCPRange(range.min, range.max) : QCPRange();
}

QCPRange CTraceSeries::getValueRange(bool& foundRange, QCP::SignDomain, const QCPRange&) const {
    std::vector<double> edges{-std::numeric_limits<double>::infinity(),
                              std::numeric_limits<double>::infinity()};
    const ValueRange range =
        trace_.SortedX() ? trace_.Columns(*points_, edges).front().range : ValueRange{};
    foundRange = !range.Empty();
    return foundRange ? QCPRange(range.min, range.max) : QCPRange();
}

TracePlot::TracePlot(QWidget* parent) : QCustomPlot(parent) {
    // Tick numbers take the plot's locale: they keep the decimal point that the main window and
    // the files use, whatever the user's language.
    setLocale(QLocale::c());
    setFocusPolicy(Qt::StrongFocus);
    setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    axisRect()->setRangeDrag(Qt::Horizontal);
    axisRect()->setRangeZoom(Qt::Horizontal);
    // Plain drawing and no antialiasing keep frames cheap with five panes.
    setNotAntialiasedElements(QCP::aeAll);
    axisRect()->setAutoMargins(QCP::msTop | QCP::msRight | QCP::msBottom);
    axisRect()->setMargins(QMargins(kLeftMargin, 0, 0, 0));
    // Large X values (MJD) need as many decimals as the visible range takes to tell ticks
    // apart, and no exponent.
    xAxis->setNumberFormat(QStringLiteral("f"));
    connect(xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this,
            [this](const QCPRange& range) {
                const double step = range.size() / 5.0;
                const int decimals =
                    step > 0.0 ? static_cast<int>(std::ceil(-std::log10(step))) + 1 : 0;
                xAxis->setNumberPrecision(std::clamp(decimals, 0, kMaxTickDecimals));
            });
    for (std::size_t c = 0; c < cursorLines_.size(); ++c) {
        auto* line = new QCPItemStraightLine(this);
        line->setPen(QPen(kCursorColours[c], 1.0, Qt::DashLine));
        line->setVisible(false);
        line->point1->setType(QCPItemPosition::ptPlotCoords);
        line->point2->setType(QCPItemPosition::ptPlotCoords);
        cursorLines_[c] = line;
    }
}

void TracePlot::SetLabel(int label, const QString& text) {
    if (label < 0 || label >= static_cast<int>(labels_.size())) {
        return;
    }
    labels_[static_cast<std::size_t>(label)] = text;
    ShowAxisTitles();
}

QString TracePlot::LabelText(int label) const {
    return label >= 0 && label < static_cast<int>(labels_.size())
               ? labels_[static_cast<std::size_t>(label)]
               : QString();
}

void TracePlot::ShowAxisTitles() {
    const auto title = [](const QString& name, const QString& unit) {
        // Axis names after a file load already carry their unit ("Time since ... [Days]").
        const QString bracketed = QStringLiteral("[%1]").arg(unit);
        return unit.isEmpty() || name.endsWith(bracketed)
                   ? name
                   : QStringLiteral("%1 %2").arg(name, bracketed);
    };
    // The X title is shown only on a pane that was given one (the bottom pane of a stack).
    xAxis->setLabel(labels_[kXTitle].isEmpty() ? QString()
                                               : title(labels_[kXTitle], labels_[kXUnit]));
    yAxis->setLabel(title(labels_[kYTitle], labels_[kYUnit]));
}

void TracePlot::SetCursorsShown(bool shown) {
    cursorsShown_ = shown;
    for (std::size_t c = 0; c < cursorLines_.size(); ++c) {
        PlaceCursor(c, cursorIndex_[c]);
        cursorLines_[c]->setVisible(shown);
    }
    replot(rpQueuedReplot);
}

void TracePlot::SelectCursor(int cursor) {
    selected_ = static_cast<int>(Slot(cursor));
}

double TracePlot::CursorX(int cursor) const {
    const CTraceSeries* series = Series(0);
    if (!series || series->Trace().Size() == 0) {
        return 0.0;
    }
    return series->Points().X(cursorIndex_[Slot(cursor)]);
}

void TracePlot::PlaceCursor(std::size_t cursor, std::int64_t index) {
    const CTraceSeries* series = Series(0);
    const std::int64_t count = series ? series->Trace().Size() : 0;
    cursorIndex_[cursor] = count == 0 ? 0 : std::clamp<std::int64_t>(index, 0, count - 1);
    const double x = count == 0 ? 0.0 : series->Points().X(cursorIndex_[cursor]);
    cursorLines_[cursor]->point1->setCoords(x, 0.0);
    cursorLines_[cursor]->point2->setCoords(x, 1.0);
}

void TracePlot::SetCursorIndices(std::int64_t index0, std::int64_t index1) {
    PlaceCursor(0, index0);
    PlaceCursor(1, index1);
    replot(rpQueuedReplot);
}

void TracePlot::SetCursorIndex(std::int64_t index) {
    PlaceCursor(Slot(selected_), index);
    replot(rpQueuedReplot);
    emit CursorsMoved(cursorIndex_[0], cursorIndex_[1], CursorX(0), CursorX(1));
}

std::int64_t TracePlot::NearestIndex(double x) const {
    const CTraceSeries* series = Series(0);
    if (!series || series->Trace().Size() == 0) {
        return 0;
    }
    const IPlotPoints& points = series->Points();
    const std::int64_t count = series->Trace().Size();
    if (series->Trace().SortedX()) {
        const std::int64_t after = series->Trace().LowerBound(points, x);
        if (after >= count) {
            return count - 1;
        }
        if (after > 0 && x - points.X(after - 1) <= points.X(after) - x) {
            return after - 1;
        }
        return after;
    }
    std::int64_t best = 0;
    for (std::int64_t i = 1; i < count; ++i) {
        if (std::fabs(points.X(i) - x) < std::fabs(points.X(best) - x)) {
            best = i;
        }
    }
    return best;
}

void TracePlot::MoveCursorTo(double x) {
    SetCursorIndex(NearestIndex(x));
}

void TracePlot::SetViewport(double left, double right, double top, double bottom) {
    viewportX_ = QCPRange(left, right);
    viewportY_ = QCPRange(bottom, top);
}

void TracePlot::ApplyViewport() {
    // A single point or a flat range still gets an axis of some width.
    QCPRange x = viewportX_;
    if (!(x.upper > x.lower)) {
        const double half = x.lower == 0.0 ? 0.5 : std::fabs(x.lower) * 1e-6;
        x = QCPRange(x.lower - half, x.lower + half);
    }
    xAxis->setRange(x);
    appliedX_ = xAxis->range();
    if (QCPRange::validRange(viewportY_.lower, viewportY_.upper)) {
        yAxis->setRange(viewportY_);
    }
    replot(rpQueuedReplot);
}

void TracePlot::FollowXAxis(TracePlot* follower) {
    // setRange ignores an unchanged range, so the two connections do not echo each other.
    connect(xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), follower,
            [follower](const QCPRange& range) {
                follower->xAxis->setRange(range);
                follower->replot(rpQueuedReplot);
            });
    connect(follower->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this,
            [this](const QCPRange& range) {
                xAxis->setRange(range);
                replot(rpQueuedReplot);
            });
}

void TracePlot::SetUtcTimeAxis(bool utc) {
    if (utc == utcTimeAxis_) {
        return;
    }
    utcTimeAxis_ = utc;
    xAxis->setTicker(utc ? QSharedPointer<QCPAxisTicker>(new CUtcTimeTicker)
                         : QSharedPointer<QCPAxisTicker>(new QCPAxisTicker));
    replot(rpQueuedReplot);
}

void TracePlot::ClearSeries() {
    for (CTraceSeries* series : series_) {
        removePlottable(series);
    }
    series_.clear();
}

CTraceSeries* TracePlot::AddSeries(const QString& name, std::shared_ptr<const IPlotPoints> points,
                                   int style) {
    auto* series = new CTraceSeries(xAxis, yAxis, std::move(points));
    series->setName(name);
    series->SetStyle(style);
    series->setPen(QPen(series_.empty() ? QColor(0, 0, 160) : QColor(0, 160, 0)));
    series_.push_back(series);
    return series;
}

CTraceSeries* TracePlot::Series(int index) const {
    return index >= 0 && index < SeriesCount() ? series_[static_cast<std::size_t>(index)] : nullptr;
}

void TracePlot::SetSeriesStyle(int index, int style) {
    if (CTraceSeries* series = Series(index)) {
        series->SetStyle(style);
    }
}

void TracePlot::UpdateSeries() {
    for (CTraceSeries* series : series_) {
        series->Update();
    }
    replot(rpQueuedReplot);
}

void TracePlot::ClearAnnotations() {
    for (QCPItemText* annotation : annotations_) {
        removeItem(annotation);
    }
    annotations_.clear();
}

QCPItemText* TracePlot::AddAnnotation(double x, double y, const QColor& colour) {
    auto* text = new QCPItemText(this);
    text->position->setType(QCPItemPosition::ptAxisRectRatio);
    text->position->setCoords(x, y);
    text->setPositionAlignment(Qt::AlignLeft | Qt::AlignTop);
    text->setTextAlignment(Qt::AlignLeft);
    text->setColor(colour.darker(150));
    text->setPadding(QMargins(6, 4, 6, 4));
    annotations_.push_back(text);
    return text;
}

void TracePlot::SetLimitLines(const std::vector<std::pair<double, QColor>>& lines) {
    for (QCPItemStraightLine* line : limitLines_) {
        removeItem(line);
    }
    limitLines_.clear();
    for (const auto& [y, colour] : lines) {
        auto* line = new QCPItemStraightLine(this);
        line->point1->setCoords(0.0, y);
        line->point2->setCoords(1.0, y);
        line->setPen(QPen(colour, 1.0, Qt::DashLine));
        limitLines_.push_back(line);
    }
    replot(rpQueuedReplot);
}

std::vector<double> TracePlot::LimitLineValues() const {
    std::vector<double> values;
    for (const QCPItemStraightLine* line : limitLines_) {
        values.push_back(line->point1->coords().y());
    }
    return values;
}

QCPItemText* TracePlot::Annotation(int index) const {
    return index >= 0 && index < AnnotationCount() ? annotations_[static_cast<std::size_t>(index)]
                                                   : nullptr;
}

bool TracePlot::event(QEvent* event) {
    // Tab selects the other cursor instead of moving the focus.
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Tab) {
        SelectCursor(1 - selected_);
        return true;
    }
    return QCustomPlot::event(event);
}

void TracePlot::mousePressEvent(QMouseEvent* event) {
    emit MouseDown(event->button(), event->modifiers(), event->position().toPoint());
    const bool cursorButton =
        event->button() == Qt::LeftButton || event->button() == Qt::RightButton;
    if (cursorsShown_ && cursorButton && !(event->modifiers() & Qt::ControlModifier)) {
        SelectCursor(event->button() == Qt::LeftButton ? 0 : 1);
        draggingCursor_ = true;
        MoveCursorTo(xAxis->pixelToCoord(event->position().x()));
        return;
    }
    QCustomPlot::mousePressEvent(event);
}

void TracePlot::mouseMoveEvent(QMouseEvent* event) {
    if (draggingCursor_) {
        MoveCursorTo(xAxis->pixelToCoord(event->position().x()));
        return;
    }
    QCustomPlot::mouseMoveEvent(event);
}

void TracePlot::mouseReleaseEvent(QMouseEvent* event) {
    const bool wasDragging = draggingCursor_;
    draggingCursor_ = false;
    if (!wasDragging) {
        QCustomPlot::mouseReleaseEvent(event);
    }
    emit MouseUp(event->button(), event->modifiers(), event->position().toPoint());
}

void TracePlot::PanX(double share) {
    const QCPRange range = xAxis->range();
    xAxis->setRange(range.lower + share * range.size(), range.upper + share * range.size());
    replot(rpQueuedReplot);
}

void TracePlot::ZoomX(double factor, double centre) {
    xAxis->scaleRange(factor, centre);
    replot(rpQueuedReplot);
}

void TracePlot::keyPressEvent(QKeyEvent* event) {
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const std::int64_t step = shift ? kLargeCursorStep : 1;
    switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Right: {
            const double sign = event->key() == Qt::Key_Left ? -1.0 : 1.0;
            if (ctrl) {
                PanX(sign * kPanShare);
            } else if (cursorsShown_) {
                SetCursorIndex(cursorIndex_[Slot(selected_)] +
                               static_cast<std::int64_t>(sign) * step);
            }
            return;
        }
        case Qt::Key_Up:
        case Qt::Key_Down:
            if (ctrl) {
                ZoomX(event->key() == Qt::Key_Up ? kZoomStep : 1.0 / kZoomStep,
                      xAxis->range().center());
            }
            return;
        case Qt::Key_F3:
            ApplyViewport();
            return;
        default:
            QCustomPlot::keyPressEvent(event);
    }
}

}  // namespace corvane3
