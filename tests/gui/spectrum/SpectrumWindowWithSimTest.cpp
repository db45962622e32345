// The spectrum window with the polling thread against the simulated instrument: a host sweep
// and an instrument sweep drawn in the plot, and polling going on after the window closes.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

#include "core/poll/PollingThread.h"
#include "gui/common/QueuedNotificationSink.h"
#include "gui/common/QueuedTimedMessages.h"
#include "gui/mainwin/MainStatusDlg.h"
#include "gui/mainwin/TerminationClose.h"
#include "gui/plot/TracePlot.h"
#include "gui/spectrum/SpectrumDlg.h"
#include "sim/SimulatorServer.h"
#include "support/ModalDialogDriver.h"
#include "support/SimFrames.h"
#include "support/TempDir.h"
#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

using namespace std::chrono_literals;
using testing::ProcessEventsUntil;

constexpr int kLongWaitMs = 60000;
constexpr int kInitialPoints = 21;

class SpectrumWindowWithSimTest : public testing::WidgetTest {
  protected:
    void StartUnit(bool instrumentSweep) {
        sim::SimulatorOptions options;
        options.instrument.warmup = 0ms;
        options.instrument.instrumentSweep = instrumentSweep;
        options.instrument.rebootSilence = 500ms;
        options.link = dir_.Path() / "unit";
        sim_ = std::make_unique<sim::CSimulatorServer>(options);
        ASSERT_TRUE(sim_->IsOpen()) << sim_->Error();
        app_.settings.PollingInterval = kMinPollingInterval;
        app_.serialPort.SetSettings({options.link.string(), 9600, kParityOdd, kStopBitsTwo, 7});
        app_.linkStatus.SetSink(&notifications_);
        QObject::connect(&notifications_, &CQueuedNotificationSink::Notified,
                         [this](int code) { records_ += code == kNotifyStatusRecord ? 1 : 0; });
        polling_ = std::make_unique<CPollingThread>(
            app_.serialPort, app_.unitState, app_.linkStatus, app_.polling, app_.settings,
            notifications_, app_.MakePollingHooks(messages_));
    }
    void TearDown() override {
        if (polling_) {
            EXPECT_TRUE(polling_->StopBackgroundThread());
        }
        app_.linkStatus.SetSink(nullptr);
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
        std::int64_t peak = 0;
        for (std::int64_t i = 0; i < points.Count(); ++i) {
            peak = points.Y(i) > points.Y(peak) ? i : peak;
        }
        EXPECT_NEAR(points.X(0), -5000.0, 0.01);
        EXPECT_NEAR(points.X(peak), 0.0, 100.0);
        EXPECT_EQ(window.Plot()->Series(0)->Points().Count(), kInitialPoints);
    }

    std::vector<std::string> DataOf(const std::string& code) const {
        return testing::SentFields(*sim_, code);
    }

    testing::TempDir dir_;
    Corvane3App app_;
    CQueuedNotificationSink notifications_;
    CQueuedTimedMessages messages_;
    std::unique_ptr<sim::CSimulatorServer> sim_;
    std::unique_ptr<CPollingThread> polling_;
    int records_ = 0;
};

TEST_F(SpectrumWindowWithSimTest, HostSweepOfTwoIsAveragedAndClosingRebootsTheUnit) {
    StartUnit(false);
    polling_->StartBackgroundThread();
    ASSERT_TRUE(ProcessEventsUntil([&] { return records_ > 0; }, kLongWaitMs));
    ArbitraryDdsOffset offset;
    CSpectrumDlg window({app_.spectrum, app_.settings, app_.unitState}, ESweepMode::kHost,
                        QStringLiteral("Unit"), offset);
    QObject::connect(&notifications_, &CQueuedNotificationSink::Notified, &window, [&](int code) {
        if (code == kNotifySweepProgress) {
            window.OnSweepProgress();
        }
    });
    window.show();
    window.WidthList()->setCurrentText("2 kHz");
    EXPECT_EQ(window.Plot()->xAxis->range(), QCPRange(-1000, 1000));
    window.CenterList()->setCurrentText("mf = -3");
    EXPECT_EQ(window.SuggestedFileName(), "SN01234_mFn3.css");
    window.CenterList()->setCurrentText("mf = 0");
    window.WidthList()->setCurrentText("10 k Hz");
    {  // "Arbitrary..." cancelled still sets the synthesizer, at the offset kept (none yet).
        testing::ModalDialogDriver driver([](QDialog& dialog) { dialog.reject(); });
        window.CommandAction(CSpectrumDlg::kCmdFirstDds + 10)->trigger();
    }
    ASSERT_TRUE(ProcessEventsUntil([&] { return DataOf("A04").size() == 2; }, kLongWaitMs));
    EXPECT_EQ(DataOf("A04"), (std::vector<std::string>{kOpeningDdsWord, "47DC59E47639"}));
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

    // Declining the reboot keeps the window and sends nothing; accepting reboots the unit, and
    // polling comes back once it restarted.
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
    EXPECT_FALSE(app_.settings.PollingEnabled);
    reboot = true;
    window.reject();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(app_.settings.PollingEnabled);
    EXPECT_TRUE(ProcessEventsUntil([&] { return !DataOf("A02").empty(); }, kLongWaitMs));
    EXPECT_EQ(DataOf("A02"), std::vector<std::string>{"0"});
    EXPECT_TRUE(PollsGoOn());
}

// A termination request during a host sweep, or while the closing question waits, ends the
// window as Exit does without waiting for an answer: the unit is sent the reboot once.
TEST_F(SpectrumWindowWithSimTest, ATerminationRequestEndsTheSweepAndClosesWithoutAsking) {
    StartUnit(false);
    polling_->StartBackgroundThread();
    ASSERT_TRUE(ProcessEventsUntil([&] { return records_ > 0; }, kLongWaitMs));
    for (const bool questionShowing : {false, true}) {
        SCOPED_TRACE(questionShowing ? "question showing" : "sweep running");
        sim_->ClearFrames();
        ArbitraryDdsOffset offset;
        CSpectrumDlg window({app_.spectrum, app_.settings, app_.unitState}, ESweepMode::kHost,
                            QStringLiteral("Unit"), offset);
        window.NtotList()->setCurrentIndex(window.NtotList()->count() - 1);
        QTimer::singleShot(0, &window, [&] {
            window.GoButton()->click();
            if (questionShowing) {
                window.reject();  // Exit: the question shows until it is answered
            }
        });
        QTimer::singleShot(500, &window, [] { CloseWindowsOnTermination(); });
        // A question left waiting for a click would hold the test: it fails instead.
        QTimer::singleShot(kLongWaitMs, &window, [&] {
            ADD_FAILURE() << "the window waited for an answer";
            if (QWidget* modal = QApplication::activeModalWidget(); modal != &window) {
                modal->close();
            }
            window.done(QDialog::Rejected);
        });
        window.exec();
        EXPECT_FALSE(window.isVisible());
        EXPECT_FALSE(app_.spectrum.IsRunning());
        EXPECT_TRUE(ProcessEventsUntil([&] { return !DataOf("A02").empty(); }, kLongWaitMs));
        EXPECT_EQ(DataOf("A02"), std::vector<std::string>{"0"});
        EXPECT_TRUE(app_.settings.PollingEnabled);
        EXPECT_TRUE(PollsGoOn());
    }
}

// From the main window's menu: an instrument sweep opens without the reboot warning, ends on the
// unit's closing line, and polling goes on once the window is closed.
TEST_F(SpectrumWindowWithSimTest, InstrumentSweepFromTheMainWindow) {
    StartUnit(true);
    CMainStatusDlg main(app_, notifications_, polling_.get());
    main.show();
    // The window's title names the unit by the serial number of its first status record, which
    // comes some passes after the unit is identified; on a loaded machine, later.
    ASSERT_TRUE(ProcessEventsUntil(
        [&] {
            return app_.unitState.Snapshot().instrumentSweep &&
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
            ASSERT_TRUE(ProcessEventsUntil([&] { return window->GoButton()->text() == "Go!"; },
                                           kLongWaitMs));
            ExpectSweepDrawn(*window);
            EXPECT_EQ(window->StepBox()->text(), "21");
            drawn = true;
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
