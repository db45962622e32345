// The plot window on files and on records handed to it, and the progress window of a file
// load, offscreen.

#include "gui/plot/PlotDlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>
#include <atomic>
#include <cmath>
#include <fstream>
#include <thread>
#include <utility>
#include <vector>

#include "core/program/Corvane3App.h"
#include "gui/plot/CursorReadout.h"
#include "gui/plot/CustomizePlotsDlg.h"
#include "gui/plot/FileLoadProgressDlg.h"
#include "gui/plot/PlotMenus.h"
#include "gui/plot/TracePlot.h"
#include "support/DecayTestFiles.h"
#include "support/ModalDialogDriver.h"
#include "support/PlotWindows.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"
#include "support/TimedPrint.h"
#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

constexpr double kStartMjd = 60000.0;

// Record i of a unit whose beam signal falls by 1 % a day, one record every two hours.
UnitStateData FallingRecord(int i, std::uint32_t serial = 1234) {
    UnitStateData data = testing::SampleRecord();
    data.d1.serialNumber = serial;
    const double days = i / 12.0;
    data.mjd = kStartMjd + days;
    data.d1.cLevel = static_cast<std::int32_t>(std::lround(250000.0 * std::pow(0.99, days)));
    data.d1.cRamErr = i % 7;
    return data;
}

void WriteFile(const std::filesystem::path& path, int records) {
    testing::AppendCsdRecords(path, 0, records, [](int i) { return FallingRecord(i); });
}

using testing::SetCursors;
using testing::ShowLoaded;

class PlotDlgTest : public testing::WidgetTest {
  protected:
    // The window on a file of records falling records, opened as from the command line
    // (fileMode) or as the live file.
    CPlotDlg& Opened(int records, bool fileMode = true) {
        WriteFile(File(), records);
        window_.Open(File().string(), fileMode);
        return *window_.dialog;
    }
    std::filesystem::path File() const { return dir_.Path() / "Unit1234.csd"; }
    // The settings of a program started on the test's INI, as the program reads them.
    void Start(Corvane3App& app) const {
        app.InitialiseStartup(dir_.Path() / "corvane3", dir_.Path() / "Corvane3.ini");
        app.LoadConfiguration();
    }

    testing::TempDir dir_;
    testing::PlotWindow window_;
    std::atomic<std::int32_t> model_{kModelTq9000};
};
using FileLoadProgressTest = PlotDlgTest;

// A left button let go on the pane, as at the end of a click.
void Release(TracePlot* pane, Qt::KeyboardModifiers modifiers) {
    QMouseEvent up(QEvent::MouseButtonRelease, QPointF(50, 50), QPointF(50, 50), Qt::LeftButton,
                   Qt::NoButton, modifiers);
    QApplication::sendEvent(pane, &up);
}

// The decay display of plot, its cursors moved to points first and second and let go.
TracePlot* DecayRefitAt(CPlotDlg& plot, int first, int second) {
    plot.Command(kPlotCmdSignalDecay)->trigger();
    TracePlot* signal = plot.Pane(CPlotDlg::kSignalPane);
    SetCursors(signal, first, second);
    Release(signal, Qt::NoModifier);
    return signal;
}

TEST_F(PlotDlgTest, FileModeShowsTheClockServoViewWithAConstantChannelScaled) {
    CPlotDlg& plot = Opened(37);  // three days
    EXPECT_FALSE(plot.IsLive());
    EXPECT_FALSE(plot.Command(kPlotCmdLiveData)->isVisible());  // no "Live Data" in file mode
    EXPECT_TRUE(
        plot.Command(kPlotCmdSystemSupplies)->isVisible());  // "System Supplies" for a Tq9000

    // "Clock Servo", bottom to top; the bottom pane carries the time axis title.
    const int clockServo[] = {15, 2, 3, 5, 1};
    for (int p = 0; p < 5; ++p) {
        EXPECT_EQ(plot.PaneChannel(p), clockServo[p]);
        EXPECT_EQ(plot.Pane(p)->Series(0)->Trace().Size(), 37);
    }
    EXPECT_EQ(plot.Pane(4)->LabelText(TracePlot::kYTitle), "Variance");
    EXPECT_EQ(plot.Pane(0)->LabelText(TracePlot::kXTitle), "MJD");
    // A constant chassis temperature of 35.5 is shown 3 % either side.
    EXPECT_NEAR(plot.Pane(0)->yAxis->range().lower, 0.97 * 35.5, 1e-4);
    EXPECT_NEAR(plot.Pane(0)->yAxis->range().upper, 1.03 * 35.5, 1e-4);
}

TEST_F(PlotDlgTest, ThePictureHoldsThePanesAndThePrintIsTimedAndLandscape) {
    CPlotDlg& plot = Opened(37);
    const QString png = QString::fromStdString((dir_.Path() / "panes.png").string());
    EXPECT_TRUE(plot.SavePicture(png));
    EXPECT_EQ(QImage(png).size(), plot.Pane(4)->parentWidget()->size());
    testing::ExpectTimedLandscapePrint(plot, dir_.Path() / "print.pdf");
}

TEST_F(PlotDlgTest, TheLastHourShowsItsOnePointAndHoursAreCountedFromTheFirstDay) {
    CPlotDlg& plot = Opened(37);
    // No point in the last hour but the last: the panes show it alone.
    plot.Command(kPlotCmdXScaleLastHour)->trigger();
    const QCPRange lastHour = plot.Pane(2)->xAxis->range();
    EXPECT_TRUE(lastHour.contains(kStartMjd + 3.0));
    EXPECT_GT(lastHour.lower, kStartMjd + 3.0 - 1.0 / 12.0);
    // Another time unit (another view's channels are the cache test's VEM pane).
    plot.Command(kPlotCmdXUnitHours)->trigger();
    EXPECT_EQ(plot.Pane(0)->LabelText(TracePlot::kXTitle), "Time since MJD 60000.00 [Hours]");
}

// The decay display refits between its cursors at their release; back to the data and to the
// decay again, it fits every point between cursors at the fit's two ends.
TEST_F(PlotDlgTest, TheDecayIsRefitBetweenTheCursorsAndAgainOverEveryPointAfterTheData) {
    CPlotDlg& plot = Opened(37);
    // Cursors moved to points 12 and 30 (given in either order): the release refits there.
    TracePlot* signal = DecayRefitAt(plot, 30, 12);
    ASSERT_EQ(signal->SeriesCount(), 2);
    EXPECT_TRUE(signal->CursorsShown());
    EXPECT_FALSE(plot.Command(kPlotCmdSignalDecay)->isVisible());
    EXPECT_TRUE(plot.Command(kPlotCmdData)->isVisible());
    EXPECT_EQ(plot.FitFirst(), 12);
    EXPECT_EQ(plot.FitLast(), 30);
    EXPECT_EQ(signal->Series(1)->Trace().Size(), 19);
    // One point has no slope: no fit line, no projection.
    signal->SelectCursor(0);
    signal->SetCursorIndex(12);
    Release(signal, Qt::NoModifier);
    EXPECT_EQ(signal->Series(1)->Trace().Size(), 0);
    EXPECT_EQ(signal->Annotation(0)->text(), kNoDecayText);
    // Back to the data: the cursors as they were before, the X unit stays days.
    plot.Command(kPlotCmdData)->trigger();
    EXPECT_FALSE(plot.Pane(0)->CursorsShown());
    EXPECT_EQ(window_.settings.Xunits, 1);
    // The decay display again fits every point, and its cursors stand at the fit's two ends,
    // so that a release refits the same range.
    plot.Command(kPlotCmdSignalDecay)->trigger();
    EXPECT_EQ(signal->CursorIndex(0), 0);
    EXPECT_EQ(signal->CursorIndex(1), 36);
    Release(signal, Qt::NoModifier);
    EXPECT_EQ(plot.FitFirst(), 0);
    EXPECT_EQ(plot.FitLast(), 36);
    EXPECT_EQ(signal->Series(1)->Trace().Size(), 37);
}

// A click with button at X value x of pane, as a user places a cursor.
void ClickAt(TracePlot* pane, double x, Qt::MouseButton button) {
    pane->replot();  // the axis maps to pixels as last drawn
    const QPointF at(pane->xAxis->coordToPixel(x), pane->height() / 2.0);
    QMouseEvent down(QEvent::MouseButtonPress, at, pane->mapToGlobal(at), button, button,
                     Qt::NoModifier);
    QApplication::sendEvent(pane, &down);
    QMouseEvent up(QEvent::MouseButtonRelease, at, pane->mapToGlobal(at), button, Qt::NoButton,
                   Qt::NoModifier);
    QApplication::sendEvent(pane, &up);
}

// The readout's column named title: its cells at cursor 1, at cursor 2 and the difference.
std::array<QString, 3> Cells(const CPlotDlg& plot, const QString& title) {
    const ReadoutColumn* column = plot.Readout()->Column(title);
    return column != nullptr ? column->cells : std::array<QString, 3>{"none", "none", "none"};
}

// The pane's column (its channel's name and unit) shows the store's values at points i1 and i2,
// and their difference.
void ExpectStoreCells(const CPlotDlg& plot, int pane, std::int64_t i1, std::int64_t i2) {
    const CPlotSeries channel = plot.Store().Channel(plot.PaneChannel(pane));
    const QString name = QString::fromStdString(channel.Name());
    const std::array<QString, 3> cells = Cells(
        plot,
        channel.Unit().empty() ? name : name + " [" + QString::fromStdString(channel.Unit()) + "]");
    EXPECT_EQ(cells[0], ReadoutNumber(channel[i1])) << pane;
    EXPECT_EQ(cells[1], ReadoutNumber(channel[i2])) << pane;
    const double scale = std::max(std::fabs(channel[i1]), std::fabs(channel[i2]));
    EXPECT_NEAR(cells[2].toDouble(), channel[i2] - channel[i1], 1e-6 * scale) << pane;
}

TEST_F(PlotDlgTest, TheReadoutShowsTimesAndValuesAtTheCursorsAfterAZoomAndInTheDecayDisplay) {
    // 2023-02-25 00:00 to 2023-02-28 00:00 UTC, every two hours
    CPlotDlg& plot = Opened(37);
    EXPECT_FALSE(plot.Readout()->isVisible());

    // The cursors come on at a third and two thirds of the span; the readout with them.
    plot.Command(kPlotCmdCursors)->trigger();
    ASSERT_TRUE(plot.Readout()->isVisible());
    using Row = std::array<QString, 3>;
    EXPECT_EQ(Cells(plot, "UTC"),
              (Row{"2023-02-26 00:00:00", "2023-02-27 00:00:00", "1 d 00:00:00"}));
    EXPECT_EQ(Cells(plot, "MJD"), (Row{"60001.000000", "60002.000000", "1.000000"}));
    EXPECT_EQ(Cells(plot, "Chassis T [Deg. C]"), (Row{"35.5", "35.5", "0"}));
    ASSERT_EQ(plot.Readout()->Columns().size(), 2u + CPlotDlg::kDataPanes);
    for (int p = 0; p < CPlotDlg::kDataPanes; ++p) {
        ExpectStoreCells(plot, p, 12, 24);
    }

    // A click on another pane moves that cursor on every pane; a zoom keeps the values, and a
    // cursor placed in the zoomed range reads the point there.
    ClickAt(plot.Pane(2), kStartMjd + 0.5, Qt::LeftButton);  // point 6
    for (int p = 0; p < CPlotDlg::kDataPanes; ++p) {
        EXPECT_EQ(plot.Pane(p)->CursorIndex(0), 6) << p;
    }
    EXPECT_EQ(Cells(plot, "UTC"),
              (Row{"2023-02-25 12:00:00", "2023-02-27 00:00:00", "1 d 12:00:00"}));
    plot.Pane(0)->xAxis->setRange(kStartMjd + 1.9, kStartMjd + 2.6);
    EXPECT_EQ(Cells(plot, "MJD"), (Row{"60000.500000", "60002.000000", "1.500000"}));
    ClickAt(plot.Pane(4), kStartMjd + 2.5 + 0.01, Qt::RightButton);  // point 30
    for (int p = 0; p < CPlotDlg::kDataPanes; ++p) {
        EXPECT_EQ(plot.Pane(p)->CursorIndex(1), 30) << p;
        ExpectStoreCells(plot, p, 6, 30);
    }
    EXPECT_EQ(Cells(plot, "UTC"),
              (Row{"2023-02-25 12:00:00", "2023-02-27 12:00:00", "2 d 00:00:00"}));
    // Another unit puts the cursors back at the thirds of the whole span; cursor 2 before
    // cursor 1 reads a negative difference.
    plot.Command(kPlotCmdXUnitHours)->trigger();  // hours
    EXPECT_EQ(Cells(plot, "MJD"), (Row{"60001.000000", "60002.000000", "1.000000"}));
    SetCursors(plot.Pane(1), 12, 11);
    EXPECT_EQ(Cells(plot, "UTC")[2], "-02:00:00");
    EXPECT_EQ(Cells(plot, "MJD")[2], "-0.083333");

    // The decay display: Signal and Flop/Background at the cursors, and the fit range.
    plot.Command(kPlotCmdSignalDecay)->trigger();
    ExpectStoreCells(plot, CPlotDlg::kSignalPane, 0, 36);
    ExpectStoreCells(plot, CPlotDlg::kFlopPane, 0, 36);
    EXPECT_EQ(plot.Readout()->Footer(),
              "Fit range: 2023-02-25 00:00:00 to 2023-02-28 00:00:00 UTC, span 3 d 00:00:00 "
              "(3 days, 37 points)");
    TracePlot* signal = plot.Pane(CPlotDlg::kSignalPane);
    SetCursors(signal, 30, 12);
    ExpectStoreCells(plot, CPlotDlg::kSignalPane, 30, 12);
    EXPECT_EQ(plot.Readout()->Footer(),
              "Fit range: 2023-02-26 00:00:00 to 2023-02-27 12:00:00 UTC, span 1 d 12:00:00 "
              "(1.5 days, 19 points)");

    // A difference shows the decimals of its values, not those of binary rounding.
    EXPECT_EQ(ValueColumn("T", 34.942, 34.975).cells[2], "0.033");
    EXPECT_EQ(ValueColumn("T", 1e-9, 3e-9).cells[2], "2e-09");

    plot.Command(kPlotCmdCursors)->trigger();
    EXPECT_FALSE(plot.Readout()->isVisible());
}

TEST_F(PlotDlgTest, TheUtcAxisIsChosenSavedAndRestored) {
    WriteFile(File(), 37);
    Corvane3App app;
    Start(app);
    CProgramSettings& settings = app.settings;
    {
        CPlotDlg plot({settings, model_, ""}, File().string(), true);
        ShowLoaded(plot);
        // The existing units keep their indices; UTC comes after them and draws the MJDs.
        plot.Command(kPlotCmdXUnitHours)->trigger();
        EXPECT_EQ(settings.Xunits, 2);
        EXPECT_FALSE(plot.Pane(0)->UtcTimeAxis());
        plot.Command(kPlotCmdXUnitUtc)->trigger();
        EXPECT_EQ(settings.Xunits, kXUnitUtc);
        for (int p = 0; p < CPlotDlg::kDataPanes; ++p) {
            EXPECT_TRUE(plot.Pane(p)->UtcTimeAxis()) << p;
            EXPECT_EQ(plot.Pane(p)->Series(0)->Points().X(36), kStartMjd + 3.0) << p;
        }
        EXPECT_EQ(plot.Pane(0)->xAxis->label(), "Date and Time [UTC]");
        plot.Pane(0)->replot();
        EXPECT_TRUE(plot.Pane(0)->xAxis->tickVectorLabels().contains("02-27 00:00"));
        // The decay display counts in days; the data display comes back in days too.
        plot.Command(kPlotCmdSignalDecay)->trigger();
        EXPECT_FALSE(plot.Pane(CPlotDlg::kSignalPane)->UtcTimeAxis());
        plot.Command(kPlotCmdData)->trigger();
        EXPECT_FALSE(plot.Pane(0)->UtcTimeAxis());
        plot.Command(kPlotCmdXUnitUtc)->trigger();
    }
    std::string error;
    ASSERT_TRUE(app.SaveConfiguration(error)) << error;
    Corvane3App restarted;
    Start(restarted);
    EXPECT_EQ(restarted.settings.Xunits, kXUnitUtc);
    CPlotDlg again({restarted.settings, model_, ""}, File().string(), true);
    ShowLoaded(again);
    EXPECT_TRUE(again.Command(kPlotCmdXUnitUtc)->isChecked());
    EXPECT_TRUE(again.Pane(0)->UtcTimeAxis());
    // An X unit no window knows falls back to the MJD instead of reading past the time axes.
    restarted.settings.Xunits = 9;
    CPlotDlg unknown({restarted.settings, model_, ""}, File().string(), true);
    ShowLoaded(unknown);
    EXPECT_EQ(unknown.Pane(0)->Series(0)->Points().X(0), kStartMjd);
}

TEST_F(PlotDlgTest, TheLastDayAndTheLastWeekStartThatLongBeforeTheLastPoint) {
    CPlotDlg& plot = Opened(109);  // nine days, a record every two hours
    const struct {
        int command;
        double left;
    } cases[] = {
        {kPlotCmdXScaleLastDay, kStartMjd + 8.0},   // "Last 24 Hours"
        {kPlotCmdXScaleLastWeek, kStartMjd + 2.0},  // "Last Week"
        {kPlotCmdXScaleAll, kStartMjd},             // "All"
    };
    for (const auto& c : cases) {
        plot.Command(c.command)->trigger();
        for (int p = 0; p < CPlotDlg::kDataPanes; ++p) {
            EXPECT_NEAR(plot.Pane(p)->xAxis->range().lower, c.left, 1e-9) << c.command;
            EXPECT_NEAR(plot.Pane(p)->xAxis->range().upper, kStartMjd + 9.0, 1e-9) << c.command;
        }
    }
}

// Hands the plot window records while a file's load shows its progress window, as the main
// window does when records arrive during a load.
class RecordsDuringLoad : public QObject {
  public:
    RecordsDuringLoad(CPlotDlg& plot, std::vector<UnitStateData> records)
        : plot_(plot), records_(std::move(records)) {
        QApplication::instance()->installEventFilter(this);
    }
    ~RecordsDuringLoad() override { QApplication::instance()->removeEventFilter(this); }
    void Send(std::vector<UnitStateData> records) { records_ = std::move(records); }

  protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Show && qobject_cast<CFileLoadProgressDlg*>(object)) {
            for (const UnitStateData& record : std::exchange(records_, {})) {
                plot_.OnNewRecord(record);
            }
        }
        return false;
    }

  private:
    CPlotDlg& plot_;
    std::vector<UnitStateData> records_;
};

TEST_F(PlotDlgTest, RecordsArrivingWhileTheLiveFileLoadsAreKeptOnce) {
    WriteFile(File(), 3);
    CPlotDlg plot(PlotWindowContext{window_.settings, model_, ""}, File().string(), false);
    // Record 2 is in the file already; record 3 is not.
    RecordsDuringLoad during(plot, {FallingRecord(2), FallingRecord(3)});
    ShowLoaded(plot);
    EXPECT_EQ(plot.Store().PointCount(), 4);
    EXPECT_EQ(plot.Pane(0)->Series(0)->Trace().Size(), 4);
    EXPECT_NEAR(plot.Store().TimeAxis(0)[3], FallingRecord(3).mjd, 1e-9);

    // "Live Data" and "Open..." of the live file reload it; what arrives meanwhile follows.
    during.Send({FallingRecord(4)});
    plot.Command(kPlotCmdLiveData)->trigger();
    EXPECT_EQ(plot.Store().PointCount(), 4);
    EXPECT_NEAR(plot.Store().TimeAxis(0)[3], FallingRecord(4).mjd, 1e-9);
    during.Send({FallingRecord(5)});
    plot.OpenFile(File().string());
    EXPECT_EQ(plot.Store().PointCount(), 4);
    EXPECT_NEAR(plot.Store().TimeAxis(0)[3], FallingRecord(5).mjd, 1e-9);
    EXPECT_EQ(plot.Pane(0)->Series(0)->Trace().Size(), 4);
}

TEST_F(PlotDlgTest, LiveModeRestartsForAnotherUnitPausesAndPurges) {
    CPlotDlg& plot = Opened(3, false);
    EXPECT_TRUE(plot.IsLive());
    EXPECT_TRUE(plot.Command(kPlotCmdLiveData)->isChecked());
    // Another unit's record, of another model: the panes start again with it, and the menus
    // no longer offer the Tq9000's "System Supplies".
    window_.model = kModelChronoBeam;
    plot.OnNewRecord(FallingRecord(0, 99));
    for (QMenu* menu : plot.findChildren<QMenu*>()) {
        emit menu->aboutToShow();
    }
    EXPECT_FALSE(plot.Command(kPlotCmdSystemSupplies)->isVisible());
    EXPECT_EQ(plot.Store().PointCount(), 1);
    EXPECT_EQ(plot.Pane(0)->SeriesCount(), 0);
    plot.OnNewRecord(FallingRecord(1, 99));
    EXPECT_EQ(plot.Pane(0)->Series(0)->Trace().Size(), 2);
    EXPECT_EQ(plot.windowTitle(), " Cesium Frequency Standard S/N    99");

    // Ctrl + left click pauses the redraw; the points are still taken.
    Release(plot.Pane(2), Qt::ControlModifier);
    EXPECT_TRUE(plot.IsPaused());
    plot.OnNewRecord(FallingRecord(2, 99));
    EXPECT_EQ(plot.Store().PointCount(), 3);
    EXPECT_EQ(plot.Pane(0)->Series(0)->Trace().Size(), 2);
    plot.Command(kPlotCmdXScaleAll)->trigger();  // choosing an X scale resumes
    EXPECT_FALSE(plot.IsPaused());

    plot.Command(kPlotCmdPurge)->trigger();  // "Purge Live Data"
    EXPECT_EQ(plot.Store().PointCount(), 0);
    EXPECT_FALSE(plot.PlotsBuilt());
    EXPECT_EQ(plot.Pane(3)->SeriesCount(), 0);  // nothing left to draw from
}

TEST_F(PlotDlgTest, ACustomisedViewSurvivesClosing) {
    CPlotDlg& plot = Opened(4);
    int offered = 0;
    // Cancel after a change keeps the view; "Apply Changes" takes it.
    for (const bool apply : {false, true}) {
        testing::ModalDialogDriver driver([&](QDialog& dialog) {
            auto& customize = static_cast<CCustomizePlotsDlg&>(dialog);
            offered = customize.Box(4)->count();
            EXPECT_EQ(customize.windowTitle(), "Customize Clock Servo Plots");
            EXPECT_EQ(customize.Box(4)->currentText(), "Variance");
            customize.Box(4)->setCurrentIndex(customize.Box(4)->findText("Ion Pump"));
            EXPECT_TRUE(customize.ApplyButton()->isEnabled());
            apply ? customize.ApplyButton()->click() : customize.reject();
        });
        plot.Command(kPlotCmdCustomize)->trigger();
        EXPECT_EQ(plot.PaneChannel(4), apply ? 18 : 1);
    }
    EXPECT_EQ(offered, 35);
    window_.dialog.reset();
    window_.Open(File().string(), true);
    EXPECT_EQ(window_.dialog->PaneChannel(4), 18);
    EXPECT_EQ(window_.Pane(4)->LabelText(TracePlot::kYTitle), "Ion Pump");

    // Without a Tq9000 the system supplies are not offered.
    CPlotData store;
    CCustomizePlotsDlg customize(store, kModelChronoBeam, {15, 2, 3, 5, 1});
    EXPECT_EQ(customize.Box(0)->count(), 30);
}

// Cursors switched on are seen: at a third and two thirds of what the panes show, zoomed or not.
TEST_F(PlotDlgTest, CursorsComeOnInsideTheVisibleSpan) {
    CPlotDlg& plot = Opened(37);  // a point every two hours over three days
    const struct {
        double left, right;
        std::int64_t first, second;
    } spans[] = {{0.0, 0.0, 12, 24}, {1.5, 2.4, 22, 25}, {0.2, 0.45, 3, 4}};
    for (const auto& span : spans) {
        if (span.right > span.left) {
            plot.Pane(3)->xAxis->setRange(kStartMjd + span.left, kStartMjd + span.right);
        }
        plot.Command(kPlotCmdCursors)->trigger();
        for (int p = 0; p < CPlotDlg::kDataPanes; ++p) {
            EXPECT_TRUE(plot.Pane(p)->CursorsShown()) << p;
            EXPECT_EQ(plot.Pane(p)->CursorIndex(0), span.first) << span.left << " pane " << p;
            EXPECT_EQ(plot.Pane(p)->CursorIndex(1), span.second) << span.left << " pane " << p;
        }
        plot.Command(kPlotCmdCursors)->trigger();
    }
}

// The progress window of a file load, and a load that fails.
CFileLoadProgressDlg* OpenProgressWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<CFileLoadProgressDlg*>(widget);
            window && window->isVisible()) {
            return window;
        }
    }
    return nullptr;
}

TEST_F(FileLoadProgressTest, TheLoadRunsElsewhereWhileTheWindowShowsItsProgress) {
    const std::thread::id interfaceThread = std::this_thread::get_id();
    std::thread::id loadThread;
    std::atomic<bool> seen{false};
    QString shownText;
    // While the load waits, the interface thread still runs: it finds the window and its text.
    QTimer::singleShot(0, [&] {
        if (CFileLoadProgressDlg* window = OpenProgressWindow()) {
            shownText = window->findChild<QLabel*>(QStringLiteral("progressText"))->text();
        }
        seen = true;
    });
    RunWithLoadProgress(QStringLiteral("Filename:\tUnit1234.csd"), [&](LoadProgress& progress) {
        loadThread = std::this_thread::get_id();
        progress.SetText("Filename:\tUnit1234.csd\nNumPoints = 10");
        progress.total = 10;
        for (int i = 0; i < 1000 && !seen; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        progress.done = 10;
    });
    EXPECT_NE(loadThread, interfaceThread);
    EXPECT_TRUE(shownText.startsWith("Filename:\tUnit1234.csd")) << shownText.toStdString();
    EXPECT_EQ(OpenProgressWindow(), nullptr) << "the window closes at the end";
}

TEST_F(FileLoadProgressTest, AFileIsLoadedWholeOrNotAtAllAndTheReaderSaysWhy) {
    const std::string path = File().string();
    std::ofstream(path, std::ios::binary)
        << TelemetryHeaderLine(kModel7730B) << "\r\n"
        << TelemetryRecordLine(testing::SampleRecord(), kModel7730B) << "\r\n";
    CPlotData store;
    testing::ModalDialogDriver driver;
    EXPECT_EQ(LoadDataFile(store, path, &model_), 0);
    EXPECT_EQ(store.PointCount(), 1);
    EXPECT_EQ(model_, kModel7730B);
    EXPECT_TRUE(driver.Messages().empty());

    EXPECT_EQ(LoadDataFile(store, path + "x", &model_), -1);
    EXPECT_EQ(store.PointCount(), 1) << "the loaded file stays";
    ASSERT_EQ(driver.Messages().size(), 1u);
    EXPECT_EQ(driver.Messages()[0],
              (testing::ModalDialogDriver::Message{
                  "Read Error", QString::fromStdString("Cannot Open File:\n" + path + "x")}));
}

// The line under the decay says what the file summary says: a date, or why there is none.
TEST_F(PlotDlgTest, TheDecayDisplayProjectsOnlyFromALongFallingFit) {
    for (const testing::DecayFileCase& c : testing::DecayFileCases()) {
        SCOPED_TRACE(c.name);
        testing::WriteDecayFile(File(), c);
        window_.Open(File().string(), true);
        window_.dialog->Command(kPlotCmdSignalDecay)->trigger();
        const QString shown = window_.Pane(CPlotDlg::kSignalPane)->Annotation(0)->text();
        EXPECT_TRUE(shown.startsWith(c.decayPrefix)) << shown.toStdString();
        EXPECT_TRUE(shown.endsWith("\n" + QString::fromStdString(c.projection)))
            << shown.toStdString();
    }
}

// The menu items carry their access keys.
TEST_F(PlotDlgTest, MenusCarryTheirAccessKeys) {
    CPlotDlg& plot = Opened(3);
    for (const auto& [id, text] :
         {std::pair(kPlotCmdOpen, "&Open..."), {kPlotCmdPrint, "&Print..."},
          {kPlotCmdSavePicture, "Save Pict&ure..."}, {kPlotCmdExit, "E&xit"},
          {kPlotCmdClockServo, "&Clock Servo"}, {kPlotCmdZeemanServo, "&Zeeman Servo"},
          {kPlotCmdGainServo, "&Gain Servo"}, {kPlotCmdCbtSupplies, "&CBT Supplies"},
          {kPlotCmdPowerSupplies, "Power &Supplies"}, {kPlotCmdYScaleAll, "&All"},
          {kPlotCmdYScaleOneSigma, "&1-sigma"}, {kPlotCmdYScaleThreeSigma, "&3-sigma"},
          {kPlotCmdYScaleSixSigma, "&6-sigma"}, {kPlotCmdXScaleAll, "&All"},
          {kPlotCmdXScaleLastWeek, "Last &Week"}, {kPlotCmdXScaleLastDay, "Last &24 Hours"},
          {kPlotCmdXScaleLastHour, "Last &Hour"}, {kPlotCmdXUnitMjd, "&MJD"},
          {kPlotCmdXUnitDays, "&Days"}, {kPlotCmdXUnitHours, "&Hours"},
          {kPlotCmdXUnitMinutes, "&Minutes"}, {kPlotCmdXUnitSeconds, "&Seconds"},
          {kPlotCmdXUnitUtc, "&UTC Date and Time"}}) {
        EXPECT_EQ(plot.Command(id)->text().toStdString(), text);
    }
}

}  // namespace
}  // namespace corvane3
