#include "gui/plot/PlotDlg.h"

#include <QActionGroup>
#include <QLabel>
#include <QMenuBar>
#include <QPrinter>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>

#include "core/plot/PlotCache.h"
#include "core/plot/StorePoints.h"
#include "core/telemetry/CachedReadingTrend.h"
#include "core/telemetry/ReadingTrends.h"
#include "core/telemetry/TelemetryColumns.h"
#include "gui/common/AppIcon.h"
#include "gui/common/ScreenFit.h"
#include "gui/plot/CursorReadout.h"
#include "gui/plot/FileLoadProgressDlg.h"
#include "gui/plot/PlotMenus.h"
#include "gui/plot/TracePlot.h"
#include "gui/plot/WholeFileRead.h"

namespace corvane3 {

namespace {

// X values the fit line of a cached store is drawn through.
constexpr std::int64_t kCachedFitLinePoints = 4096;
constexpr int kDaysUnit = kXUnitDays;
// The store's time axes are the X units 0 to 4.
constexpr int kTimeAxes = 5;
// The visible time of the X scales, in days.
constexpr double kOneHour = 1.0 / 24.0;
constexpr double kOneDay = 1.0;
constexpr double kOneWeek = 7.0;
// Share of the height the five data panes take together (the bottom one also takes the rest,
// for its time axis), and the decay display's split.
constexpr double kDataPanesShare = 0.97;
constexpr double kBottomExtraShare = 0.03;
constexpr double kSignalPaneShare = 0.75;
constexpr double kFlopPaneShare = 0.25;
// Screen position of each data pane, top to bottom, by pane number: pane 4 is at the top.
constexpr std::array<int, 5> kDataPaneRowFromTop = {4, 3, 2, 1, 0};
// The decay annotation: pure green, a size to read from across the room.
const QColor kDecayTextColour(0, 255, 0);
// A reading's projection towards its limits: the colour of its warning line.
const QColor kLimitTextColour(0xc0, 0x90, 0x00);
constexpr int kDecayTextPointSize = 16;
// The window's first size: the five panes readable on a common laptop screen.
constexpr int kInitialWidth = 1200;
constexpr int kInitialHeight = 800;
// Where the data display's cursors come on: at a third and two thirds of the visible span.
constexpr double kFirstCursorAt = 1.0 / 3.0;
constexpr double kSecondCursorAt = 2.0 / 3.0;
// Room around the followed file's notice, in pixels.
constexpr int kNoticeMargin = 4;
// Width of the serial number in window titles.
constexpr int kSerialWidth = 5;

}  // namespace

CPlotDlg::CPlotDlg(PlotWindowContext context, std::string initialFile, bool fileMode,
                   QWidget* parent)
    : QDialog(parent),
      context_(std::move(context)),
      initialFile_(std::move(initialFile)),
      fileMode_(fileMode),
      follower_(
          &context_.instrumentModel,
          [this]() -> std::optional<FollowRequest> {
              if (loading_ || paused_) {
                  return std::nullopt;
              }
              return FollowRequest{{store_.SerialNumber(), store_.UnitType(), store_.FactoryFlag()},
                                   ShownSlots()};
          },
          [this](FollowedFile&& followed) { ApplyFollowed(std::move(followed)); }) {
    setObjectName(QStringLiteral("plotWindow"));
    setWindowTitle(
        QStringLiteral("Plot RS-232 Serially Transmitted Instrument Health Status Data"));
    setWindowIcon(AppIcon());
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    setWindowFlag(Qt::WindowMinimizeButtonHint);
    setSizeGripEnabled(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* bar = new QMenuBar(this);
    layout->setMenuBar(bar);

    // The panes are placed by hand on resize, in the proportions the window keeps.
    class PaneArea : public QWidget {
      public:
        explicit PaneArea(CPlotDlg* owner) : QWidget(owner), owner_(owner) {}

      protected:
        void resizeEvent(QResizeEvent*) override { owner_->LayoutPanes(width(), height()); }

      private:
        CPlotDlg* owner_;
    };
    paneArea_ = new PaneArea(this);
    paneArea_->setObjectName(QStringLiteral("plotPanes"));
    layout->addWidget(paneArea_, 1);
    readout_ = new CCursorReadout(this);
    readout_->setVisible(false);
    layout->addWidget(readout_);
    followNotice_ = new QLabel(this);
    followNotice_->setObjectName(QStringLiteral("followNotice"));
    followNotice_->setWordWrap(true);
    followNotice_->setContentsMargins(kNoticeMargin, kNoticeMargin, kNoticeMargin, kNoticeMargin);
    followNotice_->setVisible(false);
    layout->addWidget(followNotice_);
    connect(&follower_, &CFileFollower::Notice, this, &CPlotDlg::ShowFollowNotice);
    for (int p = 0; p < kPanes; ++p) {
        auto* plot = new TracePlot(paneArea_);
        plot->setObjectName(QStringLiteral("plotPane%1").arg(p));
        panes_[static_cast<std::size_t>(p)].plot = plot;
        connect(
            plot, &TracePlot::MouseDown, this,
            [this](Qt::MouseButton button, Qt::KeyboardModifiers, QPoint) { OnMouseDown(button); });
        connect(plot, &TracePlot::MouseUp, this,
                [this](Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint) {
                    OnMouseUp(button, modifiers);
                });
    }
    connect(Pane(kSignalPane), &TracePlot::CursorsMoved, this, &CPlotDlg::OnCursorsMoved);
    for (int p = 0; p < kDataPanes; ++p) {
        connect(Pane(p), &TracePlot::CursorsMoved, this,
                [this, pane = Pane(p)] { OnDataCursorsMoved(pane); });
    }
    for (int p = 1; p < kDataPanes; ++p) {
        Pane(0)->FollowXAxis(Pane(p));
    }
    Pane(kSignalPane)->FollowXAxis(Pane(kFlopPane));
    panes_[kSignalPane].channel = kChannelSignal;
    panes_[kFlopPane].channel = kChannelFlopBackground;

    BuildMenus(bar);
    if (fileMode_) {
        context_.settings.Xscale = kXScaleAll;
        context_.settings.Yscale = kYScaleAllPlus;
    }
    SetPlotView(0);
    for (QActionGroup* group : {yScaleGroup_, xScaleGroup_, xUnitGroup_}) {
        const std::int32_t index = group == yScaleGroup_   ? context_.settings.Yscale
                                   : group == xScaleGroup_ ? context_.settings.Xscale
                                                           : context_.settings.Xunits;
        for (QAction* action : group->actions()) {
            action->setChecked(action->property("index").toInt() == index);
        }
    }
    built_ = false;
    ResizeWithinScreen(*this, QSize(kInitialWidth, kInitialHeight));
    EnterDataDisplay();
}

CPlotDlg::~CPlotDlg() = default;

void CPlotDlg::LayoutPanes(int width, int height) {
    const int p = static_cast<int>(height * kDataPanesShare / kDataPanes);
    for (int pane = 0; pane < kDataPanes; ++pane) {
        const int row = kDataPaneRowFromTop[static_cast<std::size_t>(pane)];
        const int extra = pane == 0 ? static_cast<int>(height * kBottomExtraShare) : 0;
        Pane(pane)->setGeometry(0, row * p, width, p + extra);
    }
    const int signalHeight = static_cast<int>(height * kSignalPaneShare);
    Pane(kSignalPane)->setGeometry(0, 0, width, signalHeight);
    Pane(kFlopPane)->setGeometry(0, signalHeight, width, static_cast<int>(height * kFlopPaneShare));
}

void CPlotDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!loaded_) {
        loaded_ = true;
        // Loaded once the window is up, so that the progress window has an owner to show over.
        QTimer::singleShot(0, this, [this] { LoadInitialFile(); });
    }
}

std::vector<int> CPlotDlg::ShownSlots() const {
    std::vector<int> shown{CPlotData::kAxis0Slot};
    if (decayDisplay_) {
        shown.insert(shown.end(), {kChannelSignal, kChannelFlopBackground});
    } else {
        const PlotView& view = context_.settings.PlotViews[static_cast<std::size_t>(view_)];
        shown.insert(shown.end(), view.channels.begin(), view.channels.begin() + kDataPanes);
    }
    return shown;
}

void CPlotDlg::StoreReplaced() {
    built_ = false;
    for (PaneStatistics& stats : statistics_) {
        stats = PaneStatistics{};
    }
    // The panes draw from the store itself: what they held is gone with the old points.
    for (PaneSlot& pane : panes_) {
        pane.plot->ClearSeries();
        pane.plot->ClearAnnotations();
        pane.plot->replot(QCustomPlot::rpQueuedReplot);
    }
    RefreshReadout();
}

void CPlotDlg::UpdateTitle() {
    setWindowTitle(QString::asprintf("%s Cesium Frequency Standard S/N %*ld",
                                     context_.brandName.c_str(), kSerialWidth,
                                     static_cast<long>(store_.SerialNumber())));
}

void CPlotDlg::OnNewRecord(const UnitStateData& record) {
    if (loading_) {
        heldRecords_.push_back(record);
        return;
    }
    if (!live_) {
        return;
    }
    const std::int32_t serial = store_.SerialNumber();
    store_.AppendLiveRecord(record);
    if (store_.SerialNumber() != serial) {
        StoreReplaced();  // another unit: the store started again, and so do the panes
    }
    if (!paused_) {
        UpdateLivePlots();
    }
}

void CPlotDlg::UpdateLivePlots() {
    if (decayDisplay_) {
        return;
    }
    if (!built_) {
        if (store_.PointCount() < 2) {
            return;
        }
        RebuildPlots();
    }
    for (int p = 0; p < kDataPanes; ++p) {
        Pane(p)->UpdateSeries();
    }
    ApplyScales();
    RefreshReadout();
}

void CPlotDlg::RebuildPlots() {
    if (WaitForUnreadChannels()) {
        return;  // drawn when the read ended
    }
    UpdateTitle();
    const std::int64_t n = store_.PointCount();
    if (n < 2) {
        return;
    }
    const bool cursors = cursorsShown_;
    if (cursors) {
        ToggleCursors();
    }
    const int xUnit = ShownTimeAxis();
    const CPlotSeries x = store_.TimeAxis(xUnit);
    const auto unitText = [](const CPlotSeries& series) {
        return QString::fromStdString(series.Unit());
    };
    const bool utc = ShownXUnit() == kXUnitUtc;
    const QString xUnitText = utc ? QStringLiteral("UTC") : unitText(x);
    for (int p = 0; p < kPanes; ++p) {
        Pane(p)->SetUtcTimeAxis(utc);
    }
    if (!decayDisplay_) {
        const PlotView& view = context_.settings.PlotViews[static_cast<std::size_t>(view_)];
        Pane(0)->SetLabel(TracePlot::kXTitle,
                          utc ? QStringLiteral("Date and Time") : QString::fromStdString(x.Name()));
        for (int p = 0; p < kDataPanes; ++p) {
            PaneSlot& pane = panes_[static_cast<std::size_t>(p)];
            pane.channel = view.channels[static_cast<std::size_t>(p)];
            const CPlotSeries channel = store_.Channel(pane.channel);
            pane.plot->ClearSeries();
            pane.plot->AddSeries(unitText(channel),
                                 std::make_shared<CStorePoints>(store_, xUnit, pane.channel));
            pane.plot->SetLabel(TracePlot::kYTitle, QString::fromStdString(channel.Name()));
            pane.plot->SetLabel(TracePlot::kYUnit, unitText(channel));
            pane.plot->SetLabel(TracePlot::kXUnit, xUnitText);
        }
        ShowLimitLines();
    } else {
        fitFirst_ = 0;
        fitLast_ = n - 1;
        const CPlotSeries signal = store_.Channel(kChannelSignal);
        const CPlotSeries flop = store_.Channel(kChannelFlopBackground);
        TracePlot* signalPane = Pane(kSignalPane);
        TracePlot* flopPane = Pane(kFlopPane);
        flopPane->SetLabel(TracePlot::kXTitle, QString::fromStdString(x.Name()));
        for (TracePlot* pane : {signalPane, flopPane}) {
            const CPlotSeries& channel = pane == signalPane ? signal : flop;
            pane->SetLabel(TracePlot::kXUnit, unitText(x));
            pane->SetLabel(TracePlot::kYTitle, QString::fromStdString(channel.Name()));
            pane->SetLabel(TracePlot::kYUnit, unitText(channel));
            pane->ClearSeries();
        }
        signalPane->AddSeries(unitText(signal),
                              std::make_shared<CStorePoints>(store_, xUnit, kChannelSignal),
                              kTracePoints);
        FitDecay();
        flopPane->AddSeries(unitText(flop),
                            std::make_shared<CStorePoints>(store_, xUnit, kChannelFlopBackground));
    }
    built_ = true;
    ApplyScales();
    if (cursors) {
        ToggleCursors();
    }
    RefreshReadout();
    emit PlotsDrawn();
}

void CPlotDlg::ShowLimitLines() {
    // The colours of the main window's boxes outside their bands, darker to stand out as lines.
    const QColor warning = kLimitTextColour;
    const QColor critical(0xd0, 0x00, 0x00);
    for (int p = 0; p < kDataPanes; ++p) {
        const PaneSlot& pane = panes_[static_cast<std::size_t>(p)];
        std::vector<std::pair<double, QColor>> lines;
        for (const ReadingLimit& limit : context_.limits) {
            if (PlotChannelOfColumn(limit.channel) != pane.channel) {
                continue;
            }
            for (const auto& [band, colour] :
                 {std::pair{limit.warning, warning}, std::pair{limit.critical, critical}}) {
                for (const std::optional<double>& bound : {band.low, band.high}) {
                    if (bound) {
                        lines.emplace_back(*bound, colour);
                    }
                }
            }
        }
        pane.plot->SetLimitLines(lines);
        ShowLimitProjection(pane);
    }
}

void CPlotDlg::ShowLimitProjection(const PaneSlot& pane) {
    pane.plot->ClearAnnotations();
    const std::int64_t n = store_.PointCount();
    if (n == 0) {
        return;
    }
    for (const ReadingLimit& limit : context_.limits) {
        if (PlotChannelOfColumn(limit.channel) != pane.channel) {
            continue;
        }
        const CPlotSeries values = store_.Channel(pane.channel);
        const std::string text =
            LimitProjectionText(limit, ProjectLimit(limit, PaneTrend(pane.channel)), values.Unit());
        if (!text.empty()) {
            pane.plot->AddAnnotation(0.0, 0.0, kLimitTextColour)
                ->setText(QString::fromStdString(text));
        }
    }
}

ReadingTrend CPlotDlg::PaneTrend(int channel) const {
    if (const CPlotCache* cache = store_.Cache()) {
        // Years that are not all in memory: the line through the cache's block sums.
        return CachedReadingTrend(*cache, store_.CacheChannel(channel));
    }
    const std::int64_t n = store_.PointCount();
    const CPlotSeries mjd = store_.TimeAxis(0);
    const CPlotSeries values = store_.Channel(channel);
    ReadingTrend trend;
    for (std::int64_t i = 0; i < n; ++i) {
        trend.fit.Add(mjd[i], values[i]);
    }
    trend.lastMjd = mjd[n - 1];
    return trend;
}

std::int64_t CPlotDlg::FirstVisibleIndex() const {
    const std::int64_t n = store_.PointCount();
    const CPlotSeries mjd = store_.TimeAxis(0);
    const double last = mjd[n - 1];
    double start = mjd[0];
    switch (context_.settings.Xscale) {
        case kXScaleLastDay:
            start = last - kOneDay;
            break;
        case kXScaleLastHour:
            start = last - kOneHour;
            break;
        case kXScaleLastWeek:
            start = last - kOneWeek;
            break;
        default:
            break;
    }
    if (const CPlotCache* cache = store_.Cache()) {
        return std::clamp<std::int64_t>(cache->LowerBoundMjd(start), 0, n - 1);
    }
    const CTraceSeries* series = Pane(decayDisplay_ ? kSignalPane : 0)->Series(0);
    if (series && series->Trace().SortedX()) {
        // Time in order: the first point not before the start by halving.
        std::int64_t low = 0;
        std::int64_t high = n - 1;
        while (low < high) {
            const std::int64_t middle = low + (high - low) / 2;
            if (mjd[middle] < start) {
                low = middle + 1;
            } else {
                high = middle;
            }
        }
        return low;
    }
    std::int64_t i0 = 0;
    while (i0 < n - 1 && mjd[i0] < start) {
        ++i0;
    }
    return i0;
}

ChannelStatistics CPlotDlg::VisibleStatistics(int pane, std::int64_t first) {
    const std::int64_t n = store_.PointCount();
    const CPlotSeries y = store_.Channel(PaneChannel(pane));
    if (const CPlotCache* cache = store_.Cache()) {
        // From the cache's sums: no pass over the points, however many there are.
        const int channel = store_.CacheChannel(PaneChannel(pane));
        if (channel >= 0) {
            return cache->Statistics(channel, first, n);
        }
        // A channel the file does not have: every point reads 0.0.
        ChannelStatistics zeros;
        zeros.count = static_cast<std::size_t>(std::max<std::int64_t>(n - first, 0));
        return zeros;
    }
    if (first == 0 && pane < kDataPanes) {
        // The whole channel: kept from point to point, as a pass over it would give.
        PaneStatistics& stats = statistics_[static_cast<std::size_t>(pane)];
        if (stats.channel != PaneChannel(pane) || stats.taken > n) {
            stats = PaneStatistics{};
            stats.channel = PaneChannel(pane);
        }
        for (; stats.taken < n; ++stats.taken) {
            stats.running.Add(y[stats.taken]);
        }
        return stats.running.Result();
    }
    return ComputeStatistics([&](std::size_t i) { return y[static_cast<std::int64_t>(i)]; },
                             static_cast<std::size_t>(first), static_cast<std::size_t>(n));
}

void CPlotDlg::ApplyScales() {
    const std::int64_t n = store_.PointCount();
    if (!built_ || n < 1) {
        return;
    }
    const CPlotSeries x = store_.TimeAxis(ShownTimeAxis());
    const std::int64_t i0 = FirstVisibleIndex();
    const double left = x[i0];
    const double right = x[n - 1];
    const int firstPane = decayDisplay_ ? kSignalPane : 0;
    const int endPane = decayDisplay_ ? kPanes : kDataPanes;
    for (int p = firstPane; p < endPane; ++p) {
        const YRange range = ScaleRange(VisibleStatistics(p, i0), context_.settings.Yscale);
        Pane(p)->SetViewport(left, right, range.top, range.bottom);
        Pane(p)->ApplyViewport();
    }
}

void CPlotDlg::FitDecay() {
    const std::int64_t n = store_.PointCount();
    TracePlot* signalPane = Pane(kSignalPane);
    const CPlotSeries days = store_.TimeAxis(kDaysUnit);
    const CPlotSeries signal = store_.Channel(kChannelSignal);
    fitFirst_ = std::clamp<std::int64_t>(fitFirst_, 0, std::max<std::int64_t>(n - 1, 0));
    fitLast_ = std::clamp<std::int64_t>(fitLast_, fitFirst_, std::max<std::int64_t>(n - 1, 0));
    const CPlotCache* cache = store_.Cache();
    if (cache != nullptr && store_.CacheChannel(kChannelSignal) >= 0 &&
        store_.CacheChannel(CPlotData::kAxis0Slot) >= 0) {
        fit_ = cache->FitDecay(fitFirst_, fitLast_);  // from the cache's sums
    } else {
        fit_ = corvane3::FitDecay(
            [&](std::size_t i) { return days[static_cast<std::int64_t>(i)]; },
            [&](std::size_t i) { return signal[static_cast<std::int64_t>(i)]; },
            static_cast<std::size_t>(fitFirst_), static_cast<std::size_t>(fitLast_));
    }
    fitLastMjd_ = store_.TimeAxis(0)[fitLast_];
    signalPane->ClearAnnotations();
    QCPItemText* text = signalPane->AddAnnotation(0.0, 0.0, kDecayTextColour);
    QFont font = text->font();
    font.setPointSize(kDecayTextPointSize);
    font.setBold(true);
    text->setFont(font);
    QString shown = QString::fromStdString(fit_.text);
    if (const QString projection = ProjectionText(); !projection.isEmpty()) {
        shown += QLatin1Char('\n') + projection;
    }
    text->setText(shown);
    ShowFitSeries();
}

QString CPlotDlg::ProjectionText() const {
    return QString::fromStdString(HalfLifeProjection(fit_, fitLastMjd_));
}

void CPlotDlg::ShowFitSeries() {
    TracePlot* signalPane = Pane(kSignalPane);
    if (signalPane->SeriesCount() == 0) {
        return;  // not built yet
    }
    // No line where the fit has no slope.
    const std::int64_t count = fit_.valid ? fitLast_ - fitFirst_ + 1 : 0;
    // A cached store may hold years: its fit line is drawn through evenly spread X values.
    const std::int64_t shown =
        store_.Cache() != nullptr ? kCachedFitLinePoints : std::numeric_limits<std::int64_t>::max();
    auto points = std::make_shared<CDecayFitPoints>(store_.TimeAxis(kDaysUnit), fitFirst_, count,
                                                    fit_.slope, fit_.intercept, shown);
    if (signalPane->SeriesCount() < 2) {
        signalPane->AddSeries(QString::fromStdString(store_.Channel(kChannelSignal).Unit()),
                              std::move(points), kTraceLine);
    } else {
        signalPane->Series(1)->SetPoints(std::move(points));
    }
    signalPane->replot(QCustomPlot::rpQueuedReplot);
}

void CPlotDlg::EnterDataDisplay() {
    decayDisplay_ = false;
    for (int p = 0; p < kPanes; ++p) {
        Pane(p)->setVisible(p < kDataPanes);
    }
    stuffMenu_->setEnabled(true);
    unitsMenu_->setEnabled(true);
    paused_ = false;
    PrepareMenus();
    RebuildPlots();
    if (savedCursors_ != cursorsShown_) {
        ToggleCursors();
    }
}

void CPlotDlg::EnterDecayDisplay() {
    decayDisplay_ = true;
    for (int p = 0; p < kPanes; ++p) {
        Pane(p)->setVisible(p >= kDataPanes);
    }
    stuffMenu_->setEnabled(false);
    unitsMenu_->setEnabled(false);
    context_.settings.Xunits = kDaysUnit;
    for (QAction* action : xUnitGroup_->actions()) {
        action->setChecked(action->property("index").toInt() == kDaysUnit);
    }
    PrepareMenus();
    RebuildPlots();
    savedCursors_ = cursorsShown_;
    if (!cursorsShown_) {
        ToggleCursors();
    }
}

void CPlotDlg::ToggleCursors() {
    cursorsShown_ = !cursorsShown_;
    Command(kPlotCmdCursors)->setChecked(cursorsShown_);
    // Taken before the cursors move: moving one reports both, which sets the fit range.
    const std::int64_t first = fitFirst_;
    const std::int64_t last = fitLast_;
    // The data display's cursors come on inside the visible span, where they are seen, rather
    // than on its edges.
    const QCPRange visible = Pane(0)->xAxis->range();
    for (int p = 0; p < kPanes; ++p) {
        TracePlot* pane = Pane(p);
        if (cursorsShown_ && (decayDisplay_ ? p == kSignalPane : p < kDataPanes)) {
            pane->SelectCursor(1);
            if (decayDisplay_) {
                pane->SetCursorIndex(last);
            } else {
                pane->MoveCursorTo(visible.lower + visible.size() * kSecondCursorAt);
            }
            pane->SelectCursor(0);
            if (decayDisplay_) {
                pane->SetCursorIndex(first);
            } else {
                pane->MoveCursorTo(visible.lower + visible.size() * kFirstCursorAt);
            }
        }
        pane->SetCursorsShown(cursorsShown_);
    }
    RefreshReadout();
}

void CPlotDlg::OnMouseDown(Qt::MouseButton button) {
    if (!cursorsShown_ || (button != Qt::LeftButton && button != Qt::RightButton)) {
        return;
    }
    for (int p = 0; p < kPanes; ++p) {
        Pane(p)->SelectCursor(button == Qt::LeftButton ? 0 : 1);
    }
}

void CPlotDlg::OnMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers) {
    if (button == Qt::LeftButton && (modifiers & Qt::ControlModifier)) {
        paused_ = true;
    }
    if (decayDisplay_ && built_) {
        FitDecay();
    }
}

void CPlotDlg::OnCursorsMoved(qint64 index0, qint64 index1, double x0, double x1) {
    if (x0 <= x1) {
        fitFirst_ = index0;
        fitLast_ = index1;
    } else {
        fitFirst_ = index1;
        fitLast_ = index0;
    }
    RefreshReadout();
}

void CPlotDlg::OnDataCursorsMoved(TracePlot* moved) {
    for (int p = 0; p < kDataPanes; ++p) {
        if (Pane(p) != moved) {
            Pane(p)->SetCursorIndices(moved->CursorIndex(0), moved->CursorIndex(1));
        }
    }
    RefreshReadout();
}

int CPlotDlg::ShownXUnit() const {
    return decayDisplay_ ? kDaysUnit : context_.settings.Xunits;
}

int CPlotDlg::ShownTimeAxis() const {
    const int unit = ShownXUnit();
    // UTC, and an index the settings file may hold from elsewhere, draw the MJD.
    return unit >= 0 && unit < kTimeAxes ? unit : kXUnitMjd;
}

void CPlotDlg::RefreshReadout() {
    const std::int64_t n = store_.PointCount();
    const bool shown = cursorsShown_ && built_ && n > 0;
    readout_->setVisible(shown);
    if (!shown) {
        return;
    }
    const TracePlot* source = Pane(decayDisplay_ ? kSignalPane : 0);
    const std::int64_t i1 = std::clamp<std::int64_t>(source->CursorIndex(0), 0, n - 1);
    const std::int64_t i2 = std::clamp<std::int64_t>(source->CursorIndex(1), 0, n - 1);
    const CPlotSeries mjd = store_.TimeAxis(kXUnitMjd);
    std::vector<ReadoutColumn> columns = TimeColumns(mjd[i1], mjd[i2]);
    const std::vector<int> shownPanes =
        decayDisplay_ ? std::vector<int>{kSignalPane, kFlopPane} : std::vector<int>{4, 3, 2, 1, 0};
    for (int p : shownPanes) {
        const CPlotSeries channel = store_.Channel(PaneChannel(p));
        QString title = QString::fromStdString(channel.Name());
        if (!channel.Unit().empty()) {
            title += QStringLiteral(" [%1]").arg(QString::fromStdString(channel.Unit()));
        }
        columns.push_back(ValueColumn(title, channel[i1], channel[i2]));
    }
    QString footer;
    if (decayDisplay_) {
        const std::int64_t first = std::clamp<std::int64_t>(fitFirst_, 0, n - 1);
        const std::int64_t last = std::clamp<std::int64_t>(fitLast_, 0, n - 1);
        footer =
            QStringLiteral("Fit range: %1 to %2 UTC, span %3 (%4 days, %5 points)")
                .arg(ReadoutUtc(mjd[first]), ReadoutUtc(mjd[last]),
                     ReadoutSpan(mjd[last] - mjd[first]), ReadoutNumber(mjd[last] - mjd[first]))
                .arg(last - first + 1);
    }
    readout_->Show(std::move(columns), footer);
}

}  // namespace corvane3
