// The spectrum window without an instrument: the viewer, saving and reopening, the controls a
// run locks, and the main window refusing a spectrum while no unit answers.

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QPushButton>
#include <fstream>

#include "mainwin/MainStatusDlg.h"
#include "mainwin/QueuedNotificationSink.h"
#include "plot/TracePlot.h"
#include "spectrum/SpectrumDlg.h"
#include "support/ModalDialogDriver.h"
#include "support/TempDir.h"
#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

using testing::ModalDialogDriver;
using testing::ProcessEventsUntil;

class SpectrumDlgTest : public testing::WidgetTest {
  protected:
    SpectrumWindowContext Context() { return {acquisition_, settings_, unit_}; }
    std::string Write(const std::string& name, const std::string& text) {
        const std::string path = (dir_.Path() / name).string();
        std::ofstream(path) << text;
        return path;
    }
    static std::vector<std::pair<double, double>> Drawn(const CSpectrumDlg& window, int series) {
        std::vector<std::pair<double, double>> points;
        const IPlotPoints& drawn = window.Plot()->Series(series)->Points();
        for (std::int64_t i = 0; i < drawn.Count(); ++i) {
            points.emplace_back(drawn.X(i), drawn.Y(i));
        }
        return points;
    }

    testing::TempDir dir_;
    CPollingShared shared_;
    CProgramSettings settings_;
    CUnitState unit_;
    CSpectrumAcquisition acquisition_{shared_, settings_};
};

TEST_F(SpectrumDlgTest, ViewerShowsTheFileAndSavesWhatReopensAlike) {
    const std::string path =
        Write("a.css", "Detuning, Signal\n-500,1000.5\n0,4000.25\n500,12.3456789\n\n");
    CSpectrumDlg viewer(Context(), path);
    bool loaded = false;
    QObject::connect(&viewer, &CSpectrumDlg::InitialLoadDone, [&] { loaded = true; });
    viewer.show();
    ASSERT_TRUE(ProcessEventsUntil([&] { return loaded; }));
    EXPECT_EQ(viewer.windowTitle().toStdString(), "File: " + path);
    EXPECT_FALSE(viewer.GoButton()->isVisible());
    EXPECT_EQ(viewer.CommandAction(CSpectrumDlg::kCmdOptions), nullptr);
    const std::vector<std::pair<double, double>> expected = {
        {-500, 1000.5}, {0, 4000.25}, {500, 12.3456789}};
    EXPECT_EQ(Drawn(viewer, 0), expected);
    EXPECT_EQ(Drawn(viewer, 1), expected);
    const QCPRange x = viewer.Plot()->xAxis->range();
    EXPECT_LE(x.lower, -500);
    EXPECT_GE(x.upper, 500);
    // The cursors come on at the two ends of the spectrum.
    viewer.CommandAction(CSpectrumDlg::kCmdCursors)->trigger();
    EXPECT_TRUE(viewer.Plot()->CursorsShown());
    EXPECT_EQ(viewer.Plot()->CursorIndex(0), 0);
    EXPECT_EQ(viewer.Plot()->CursorIndex(1), 2);

    // Saved and opened again, the points come back with six significant digits.
    const std::string copy = (dir_.Path() / "b.css").string();
    ASSERT_TRUE(viewer.SaveTo(copy));
    CSpectrumDlg reopened(Context(), copy);
    ASSERT_TRUE(reopened.LoadFile(copy));
    EXPECT_EQ(Drawn(reopened, 1), (std::vector<std::pair<double, double>>{
                                      {-500, 1000.5}, {0, 4000.25}, {500, 12.3457}}));

    // A file that cannot be read or written is said, and the spectrum shown stays.
    ModalDialogDriver driver;
    EXPECT_FALSE(reopened.LoadFile((dir_.Path() / "none.css").string()));
    EXPECT_FALSE(reopened.SaveTo((dir_.Path() / "no" / "c.css").string()));
    EXPECT_EQ(Drawn(reopened, 1).size(), 3u);
    ASSERT_EQ(driver.Messages().size(), 2u);
    EXPECT_EQ(driver.Messages()[0],
              (ModalDialogDriver::Message{
                  "Corvane3", QString::fromStdString(
                                  "Unable to open file:  " + dir_.Path().string() + "/none.css")}));

    // A heading alone is a spectrum of no points.
    EXPECT_TRUE(reopened.LoadFile(Write("empty.css", "Detuning, Signal\n")));
    EXPECT_TRUE(Drawn(reopened, 1).empty());
}

TEST_F(SpectrumDlgTest, LiveWindowLocksTheSweepControlsWhileARunGoes) {
    ArbitraryDdsOffset offset;
    unit_.Update([](UnitStateData& data) { data.d1.serialNumber = 1234; });
    CSpectrumDlg window(Context(), ESweepMode::kHost, QStringLiteral("Unit"), offset);
    window.show();
    EXPECT_EQ(window.CenterList()->currentText(), "mf = 0");
    EXPECT_EQ(window.WidthList()->currentText(), "10 k Hz");
    EXPECT_EQ(window.StepsList()->currentText(), "20");
    EXPECT_EQ(window.Plot()->yAxis->range(), QCPRange(0, 5000));
    window.WidthList()->setCurrentText("2 kHz");
    EXPECT_EQ(window.Plot()->xAxis->range(), QCPRange(-1000, 1000));
    window.CenterList()->setCurrentText("mf = -3");
    EXPECT_EQ(window.SuggestedFileName(), "SN01234_mFn3.css");

    QAction* dds = window.CommandAction(CSpectrumDlg::kCmdFirstDds);
    window.GoButton()->click();
    EXPECT_TRUE(shared_.SweepActive);
    EXPECT_FALSE(settings_.PollingEnabled);
    EXPECT_EQ(window.GoButton()->text(), "Abort!");
    for (const QComboBox* locked : {window.CenterList(), window.WidthList(), window.StepsList()}) {
        EXPECT_FALSE(locked->isEnabled());
    }
    EXPECT_TRUE(window.NtotList()->isEnabled());
    EXPECT_FALSE(dds->isEnabled());
    window.GoButton()->click();
    EXPECT_FALSE(shared_.SweepActive);
    EXPECT_EQ(window.GoButton()->text(), "Go!");
    EXPECT_TRUE(window.CenterList()->isEnabled());
    EXPECT_TRUE(dds->isEnabled());
}

TEST_F(SpectrumDlgTest, MainWindowRefusesASpectrumWithoutAUnit) {
    Corvane3App app;
    CQueuedNotificationSink notifications;
    CMainStatusDlg main(app, notifications, nullptr);
    ModalDialogDriver driver;
    main.RunCommand(kCmdSpectrum);
    EXPECT_EQ(
        driver.Messages(),
        (std::vector<ModalDialogDriver::Message>{{"Corvane3", "Cesium instrument not detected."}}));
    EXPECT_EQ(main.OpenSpectrumWindow(), nullptr);
}

}  // namespace
}  // namespace corvane3
