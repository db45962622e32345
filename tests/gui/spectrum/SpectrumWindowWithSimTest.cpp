// The spectrum window with the polling thread against the simulated instrument: a host sweep
// and an instrument sweep drawn in the plot, and polling going on after the window closes.

#include <gtest/gtest.h>

#include <algorithm>
#include <ranges>

#include "gui/plot/TracePlot.h"
#include "gui/spectrum/SpectrumDlg.h"
#include "support/ModalDialogDriver.h"
#include "support/SimFrames.h"
#include "support/SimWindowRig.h"

namespace corvane3 {
namespace {

using namespace std::chrono_literals;
using testing::ProcessEventsUntil;

constexpr int kLongWaitMs = 60000;
constexpr int kInitialPoints = 21;

class SpectrumWindowWithSimTest : public testing::WidgetTest {
  protected:
    // The unit, its polling thread running the program's sweep steps, and the main window; the
    // status records counted once the window has handled them.
    void StartUnit(bool instrumentSweep) {
        sim::SimulatorOptions options = testing::ModelOptions(kModelTq9000, instrumentSweep);
        options.instrument.rebootSilence = 500ms;
        options.link = dir_.Path() / "unit";
        rig_ = std::make_unique<testing::SimWindowRig>(
            options,
            [instrumentSweep](const Corvane3App& app) {
                return app.unitState.Snapshot().instrumentSweep == instrumentSweep;
            },
            true);
        ASSERT_TRUE(rig_->online);
        QObject::connect(&rig_->notifications, &CQueuedNotificationSink::Notified,
                         [this](int code) { records_ += code == kNotifyStatusRecord ? 1 : 0; });
    }
    bool PollsGoOn() {
        const int seen = records_;
        return ProcessEventsUntil([&] { return records_ >= seen + 2; }, kLongWaitMs);
    }

    // The whole run is in the plot: the average over every planned point, peaking at the clock
    // line.
    static void ExpectSweepDrawn(const CSpectrumDlg& window) {
        const CTraceSeries* average = window.Plot()->Series(1);
        ASSERT_NE(average, nullptr);
        const IPlotPoints& points = average->Points();
        ASSERT_EQ(points.Count(), kInitialPoints);
        const std::int64_t peak =
            *std::ranges::max_element(std::views::iota(std::int64_t{0}, points.Count()), {},
                                      [&](std::int64_t i) { return points.Y(i); });
        EXPECT_NEAR(points.X(0), -5000.0, 0.01);
        EXPECT_NEAR(points.X(peak), 0.0, 100.0);
        EXPECT_EQ(window.Plot()->Series(0)->Points().Count(), kInitialPoints);
    }

    testing::TempDir dir_;
    std::unique_ptr<testing::SimWindowRig> rig_;
    int records_ = 0;
};

TEST_F(SpectrumWindowWithSimTest, HostSweepOfTwoIsAveragedAndClosingRebootsTheUnit) {
    StartUnit(false);
    ASSERT_TRUE(ProcessEventsUntil([&] { return records_ > 0; }, kLongWaitMs));
    ArbitraryDdsOffset offset;
    CSpectrumDlg window({rig_->app.spectrum, rig_->app.settings, rig_->app.unitState},
                        ESweepMode::kHost, QStringLiteral("Unit"), offset);
    QObject::connect(&rig_->notifications, &CQueuedNotificationSink::Notified, &window,
                     [&](int code) {
                         if (code == kNotifySweepProgress) {
                             window.OnSweepProgress();
                         }
                     });
    window.show();
    window.WidthList()->setCurrentText("10 k Hz");
    {  // "Arbitrary..." cancelled still sets the synthesizer, at the offset kept (none yet).
        testing::ModalDialogDriver driver([](QDialog& dialog) { dialog.reject(); });
        window.CommandAction(CSpectrumDlg::kCmdFirstDds + 10)->trigger();
    }
    const auto a04 = [&] { return testing::SentFields(rig_->Sim(), "A04"); };
    ASSERT_TRUE(ProcessEventsUntil([&] { return a04().size() == 2; }, kLongWaitMs));
    EXPECT_EQ(a04(), (std::vector<std::string>{kOpeningDdsWord, "47DC59E47639"}));
    window.NtotList()->setCurrentIndex(1);  // "2"
    window.GoButton()->click();
    EXPECT_EQ(window.GoButton()->text(), "Abort!");
    EXPECT_FALSE(window.StepsList()->isEnabled());
    EXPECT_TRUE(window.NtotList()->isEnabled());
    EXPECT_FALSE(window.CommandAction(CSpectrumDlg::kCmdFirstDds)->isEnabled());
    ASSERT_TRUE(
        ProcessEventsUntil([&] { return window.GoButton()->text() == "Go!"; }, kLongWaitMs));
    EXPECT_EQ(window.NBox()->text(), "2");
    EXPECT_EQ(window.StepBox()->text(), "20");
    EXPECT_TRUE(window.StepsList()->isEnabled());
    EXPECT_TRUE(window.CommandAction(CSpectrumDlg::kCmdFirstDds)->isEnabled());
    ExpectSweepDrawn(window);

    // Declining the reboot keeps the window; accepting closes it, and polling comes back once the
    // unit restarted.
    int asked = 0;
    bool reboot = false;
    window.SetConfirmer([&](const QString& text, const QString& title) {
        ++asked;
        EXPECT_EQ(text, "This will reboot CFS.\nAre you sure?");
        EXPECT_EQ(title, "Return to Corvane3");
        return reboot;
    });
    window.reject();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(rig_->app.settings.PollingEnabled);
    reboot = true;
    window.reject();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(rig_->app.settings.PollingEnabled);
    EXPECT_TRUE(PollsGoOn());
}

// From the main window's menu: an instrument sweep opens without the reboot warning, ends on the
// unit's closing line, and polling goes on once the window is closed.
TEST_F(SpectrumWindowWithSimTest, InstrumentSweepFromTheMainWindow) {
    StartUnit(true);
    CMainStatusDlg& main = *rig_->window;
    main.show();
    // The window's title names the unit by the serial number of its first status record, which
    // comes some passes after the unit is identified; on a loaded machine, later.
    ASSERT_TRUE(ProcessEventsUntil(
        [&] {
            return rig_->app.unitState.Snapshot().instrumentSweep &&
                   main.windowTitle().contains(" on ") && records_ >= 1;
        },
        kLongWaitMs));
    testing::ModalDialogDriver driver;
    bool drawn = false;
    QMetaObject::invokeMethod(
        &main,
        [&] {
            CSpectrumDlg* window = main.OpenSpectrumWindow();
            ASSERT_NE(window, nullptr);
            EXPECT_EQ(window->windowTitle(), " Model Tq9000 SN 1234");
            window->GoButton()->click();
            // A sweep that never ends fails the test and still closes the window.
            if (ProcessEventsUntil([&] { return window->GoButton()->text() == "Go!"; },
                                   kLongWaitMs)) {
                ExpectSweepDrawn(*window);
                EXPECT_EQ(window->StepBox()->text(), "21");
                drawn = true;
            }
            window->reject();
        },
        Qt::QueuedConnection);
    main.RunCommand(kCmdSpectrum);
    EXPECT_TRUE(drawn);
    EXPECT_EQ(main.OpenSpectrumWindow(), nullptr);
    EXPECT_EQ(driver.Messages(),
              (std::vector<testing::ModalDialogDriver::Message>{{"Corvane3", "Sweep End"}}));
    EXPECT_TRUE(PollsGoOn());
}

}  // namespace
}  // namespace corvane3
