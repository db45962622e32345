#pragma once
// TracePlot: the strip-chart pane of the plot and spectrum windows, on QCustomPlot. It shows
// labels, series drawn straight from where their points live (CTraceSeries), two vertical
// cursors that sit on sample indices, a viewport set in data units, X ranges tied to other
// panes, and text annotations.
//
// Mouse and keys: the wheel zooms X around the pointer; dragging pans X (while the cursors are
// hidden); with the cursors shown the left button places and drags cursor 0 and the right button
// cursor 1; Left/Right move the selected cursor by one sample, Shift+Left/Right by ten;
// Ctrl+Left/Right pan X by a tenth; Ctrl+Up/Down zoom X in and out; Tab selects the other
// cursor; F3 returns to the last viewport set by the program.

#include <QColor>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/plot/MinMaxPyramid.h"
#include "qcustomplot.h"

namespace corvane3 {

// How a series is drawn.
enum ETraceStyle : int {
    kTraceLine = 1,    // a line through the points
    kTracePoints = 2,  // the points alone
};

// A series drawn from its points without copying them: each pixel column is reduced to the
// first, lowest, highest and last value of the points in it, and painted as the run of rows a
// line through every point would paint there (see ColumnPaint.h). Where fewer points than twice
// the columns are visible, the points are drawn one by one.
class CTraceSeries : public QCPAbstractPlottable {
    Q_OBJECT

  public:
    CTraceSeries(QCPAxis* keyAxis, QCPAxis* valueAxis, std::shared_ptr<const IPlotPoints> points);

    // Takes in the points added since the last call (or all of them again when the points were
    // replaced by fewer).
    void Update();
    // Replaces all points.
    void SetPoints(std::shared_ptr<const IPlotPoints> points);
    void SetStyle(int style) { style_ = style; }
    int Style() const { return style_; }
    const IPlotPoints& Points() const { return *points_; }
    const CPlotTrace& Trace() const { return trace_; }
    // The pixel columns of the visible X range as drawn (for the tests and benchmarks).
    std::vector<PlotColumn> VisibleColumns() const;

    double selectTest(const QPointF& pos, bool onlySelectable,
                      QVariant* details = nullptr) const override;
    QCPRange getKeyRange(bool& foundRange,
                         QCP::SignDomain inSignDomain = QCP::sdBoth) const override;
    QCPRange getValueRange(bool& foundRange, QCP::SignDomain inSignDomain = QCP::sdBoth,
                           const QCPRange& inKeyRange = QCPRange()) const override;

  protected:
    void draw(QCPPainter* painter) override;
    void drawLegendIcon(QCPPainter* painter, const QRectF& rect) const override;

  private:
    std::vector<double> ColumnEdges() const;

    std::shared_ptr<const IPlotPoints> points_;
    CPlotTrace trace_;
    // Consecutive points further apart in X than this are not joined (RecordingGaps.h).
    double gapLimit_ = 0.0;
    int style_ = kTraceLine;
};

class TracePlot : public QCustomPlot {
    Q_OBJECT

  public:
    // The label numbers the windows set.
    enum ELabel : int { kXTitle = 1, kYTitle = 2, kXUnit = 4, kYUnit = 5 };
    static constexpr int kCursors = 2;

    explicit TracePlot(QWidget* parent = nullptr);

    void SetLabel(int label, const QString& text);
    QString LabelText(int label) const;

    void SetCursorsShown(bool shown);
    bool CursorsShown() const { return cursorsShown_; }
    // The cursor (0 or 1) that the next position or click moves.
    void SelectCursor(int cursor);
    int SelectedCursor() const { return selected_; }
    // Puts the selected cursor on sample index of series 0 (clamped to its points).
    void SetCursorIndex(std::int64_t index);
    // Puts the selected cursor on the sample of series 0 nearest to x.
    void MoveCursorTo(double x);
    std::int64_t CursorIndex(int cursor) const { return cursorIndex_[Slot(cursor)]; }
    // Puts both cursors on these sample indices without reporting it (panes kept in step).
    void SetCursorIndices(std::int64_t index0, std::int64_t index1);
    double CursorX(int cursor) const;

    // Visible range in data units, taken by the axes at ApplyViewport.
    void SetViewport(double left, double right, double top, double bottom);
    void ApplyViewport();
    // The X range is still the one ApplyViewport set: not zoomed or panned since.
    bool ShowsViewportX() const { return xAxis->range() == appliedX_; }
    // The follower's X range follows this pane's, and this pane follows the follower's.
    void FollowXAxis(TracePlot* follower);
    // X values are MJDs shown as UTC dates and times (true), or plain numbers (false).
    void SetUtcTimeAxis(bool utc);
    bool UtcTimeAxis() const { return utcTimeAxis_; }

    void ClearSeries();
    CTraceSeries* AddSeries(const QString& name, std::shared_ptr<const IPlotPoints> points,
                            int style = kTraceLine);
    CTraceSeries* Series(int index) const;
    int SeriesCount() const { return static_cast<int>(series_.size()); }
    void SetSeriesStyle(int index, int style);
    // Takes in the points every series gained and redraws (queued).
    void UpdateSeries();

    void ClearAnnotations();
    // A text annotation; x and y are fractions of the plotting area from its top left corner.
    QCPItemText* AddAnnotation(double x, double y, const QColor& colour);
    QCPItemText* Annotation(int index) const;
    int AnnotationCount() const { return static_cast<int>(annotations_.size()); }

    // Dashed horizontal lines across the pane at these Y values (a reading's limits), each in
    // its colour; replaces the lines set before.
    void SetLimitLines(const std::vector<std::pair<double, QColor>>& lines);
    std::vector<double> LimitLineValues() const;

  signals:
    void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint position);
    void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint position);
    // Either cursor moved: both cursors' sample indices and X values.
    void CursorsMoved(qint64 index0, qint64 index1, double x0, double x1);

  protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    static std::size_t Slot(int cursor) { return cursor == 1 ? 1 : 0; }
    std::int64_t NearestIndex(double x) const;
    void PlaceCursor(std::size_t cursor, std::int64_t index);
    void ShowAxisTitles();
    void PanX(double share);
    void ZoomX(double factor, double centre);

    std::array<QString, 6> labels_;
    std::vector<CTraceSeries*> series_;
    std::vector<QCPItemText*> annotations_;
    std::vector<QCPItemStraightLine*> limitLines_;
    std::array<QCPItemStraightLine*, kCursors> cursorLines_{};
    std::array<std::int64_t, kCursors> cursorIndex_{};
    bool cursorsShown_ = false;
    int selected_ = 0;
    bool draggingCursor_ = false;
    bool utcTimeAxis_ = false;
    QCPRange viewportX_{0.0, 1.0};
    QCPRange viewportY_{0.0, 1.0};
    QCPRange appliedX_{0.0, 1.0};
};

}  // namespace corvane3
