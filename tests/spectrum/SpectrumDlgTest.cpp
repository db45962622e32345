// The spectrum window without an instrument: the viewer, saving and reopening, and the main
// window refusing a spectrum while no unit answers.

#include <gtest/gtest.h>

#include <QAction>
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
