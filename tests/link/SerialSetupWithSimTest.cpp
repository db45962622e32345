// "Configure Serial Port" and its search for an instrument, from the main window's menu, with
// the polling thread against the simulated instrument.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "link/ScanningDlg.h"
#include "link/SerialSetupDlg.h"
#include "mainwin/MainStatusDlg.h"
#include "mainwin/QueuedNotificationSink.h"
#include "poll/PollingThread.h"
#include "sim/SimulatorServer.h"
#include "support/ProcessEvents.h"
#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

using namespace std::chrono_literals;

// Drives modal windows from a timer while the test sits in a modal run: each step acts once its
// condition holds, in order. Past the deadline it gives up and closes whatever is modal, so the
// test ends instead of hanging.
class ModalScript {
  public:
    using Condition = std::function<bool()>;
    using Action = std::function<void()>;

    ModalScript& Then(Condition ready, Action act) {
        steps_.push_back({std::move(ready), std::move(act)});
        return *this;
    }
    void Start(std::chrono::seconds deadline) {
        deadline_ = deadline;
        clock_.start();
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
        timer_.start(kTickMs);
    }
    // The index of the step the script is waiting for (all of them done when it equals count).
    std::size_t StepsDone() const { return next_; }
    std::size_t StepCount() const { return steps_.size(); }

  private:
    static constexpr int kTickMs = 20;
    void Tick() {
        if (next_ < steps_.size() && steps_[next_].ready()) {
            steps_[next_++].act();
        } else if (clock_.elapsed() > std::chrono::milliseconds(deadline_).count()) {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
            }
        }
    }

    struct Step {
        Condition ready;
        Action act;
    };
    std::vector<Step> steps_;
    std::size_t next_ = 0;
    QTimer timer_;
    QElapsedTimer clock_;
    std::chrono::seconds deadline_{};
};

// Clicks later, from the event loop, so that a step never blocks in the modal run it starts.
void ClickLater(QPushButton* button) {
    QTimer::singleShot(0, button, &QPushButton::click);
}

QMessageBox* OpenMessageBox(const QString& text) {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    return box != nullptr && box->text() == text ? box : nullptr;
}

class SerialSetupWithSimTest : public testing::WidgetTest {
  protected:
    void Start(const std::function<void(sim::SimulatorOptions&)>& adjust) {
        sim::SimulatorOptions options;
        options.instrument.model = 401;
        options.instrument.warmup = 0ms;
        adjust(options);
        sim_ = std::make_unique<sim::CSimulatorServer>(options);
        ASSERT_TRUE(sim_->IsOpen()) << sim_->Error();
        saved_ = {sim_->SlavePath(), 9600, kParityOdd, kStopBitsTwo, 7};
        app_.serialPort.SetSettings(saved_);
        app_.settings.PollingInterval = kMinPollingInterval;
        app_.linkStatus.SetSink(&notifications_);
        PollingHooks hooks;
        hooks.listPorts = [this] { return std::vector<std::string>{saved_.name}; };
        polling_ =
            std::make_unique<CPollingThread>(app_.serialPort, app_.unitState, app_.linkStatus,
                                             app_.polling, app_.settings, notifications_, hooks);
        window_ = std::make_unique<CMainStatusDlg>(app_, notifications_, polling_.get());
        setup_ = window_->findChild<CSerialSetupDlg*>();
        ASSERT_NE(setup_, nullptr);
    }
    void TearDown() override {
        if (polling_) {
            EXPECT_TRUE(polling_->StopBackgroundThread());
        }
        window_.reset();
        app_.linkStatus.SetSink(nullptr);
    }
    QPushButton* SetupButton(const char* name) const {
        return setup_->findChild<QPushButton*>(name);
    }
    QString Selected(const char* list) const {
        return setup_->findChild<QComboBox*>(list)->currentText();
    }

    Corvane3App app_;
    CQueuedNotificationSink notifications_;
    std::unique_ptr<sim::CSimulatorServer> sim_;
    std::unique_ptr<CPollingThread> polling_;
    std::unique_ptr<CMainStatusDlg> window_;
    CSerialSetupDlg* setup_ = nullptr;
    SerialLineSettings saved_;
};

TEST_F(SerialSetupWithSimTest, DetectThenCancelLeavesThePortExactlyAsBefore) {
    Start([](sim::SimulatorOptions& options) { options.faults.silent = true; });
    SerialLineSettings afterDetect;
    QString attempt;
    ModalScript script;
    script
        .Then([&] { return setup_->isVisible(); }, [&] { ClickLater(SetupButton("detect")); })
        // Cancel once "Scanning ..." shows the search trying other settings.
        .Then(
            [&] {
                return setup_->IsScanning() &&
                       setup_->Scanning().AttemptText() != SearchAttemptText(saved_);
            },
            [&] {
                attempt = setup_->Scanning().AttemptText();
                ClickLater(setup_->Scanning().findChild<QPushButton*>("cancel"));
            })
        .Then([&] { return OpenMessageBox("Cesium instrument not detected...") != nullptr; },
              [&] { OpenMessageBox("Cesium instrument not detected...")->accept(); })
        .Then([&] { return SetupButton("apply")->isEnabled() && !setup_->IsScanning(); },
              [&] {
                  afterDetect = app_.serialPort.Settings();
                  ClickLater(SetupButton("cancel"));
              });
    script.Start(90s);
    window_->RunCommand(kCmdSerialPort);
    ASSERT_EQ(script.StepsDone(), script.StepCount());
    EXPECT_TRUE(attempt.startsWith("Trying " + QString::fromStdString(saved_.name) + " at "))
        << attempt.toStdString();
    EXPECT_EQ(afterDetect, saved_);
    EXPECT_EQ(app_.serialPort.Settings(), saved_);
    EXPECT_FALSE(app_.polling.AutoDetect);
}

TEST_F(SerialSetupWithSimTest, DetectFindsAUnitAt2400BaudAndApplyMovesThePortThere) {
    Start([](sim::SimulatorOptions& options) { options.instrument.line = {2400, 8, 'N', 1}; });
    QString foundBaud, foundParity;
    SerialLineSettings beforeApply;
    ModalScript script;
    script.Then([&] { return setup_->isVisible(); }, [&] { ClickLater(SetupButton("detect")); })
        .Then([&] { return OpenMessageBox("Cesium instrument located...") != nullptr; },
              [&] {
                  foundBaud = Selected("baudRate");
                  foundParity = Selected("parity");
                  OpenMessageBox("Cesium instrument located...")->accept();
              })
        .Then([&] { return SetupButton("apply")->isEnabled() && !setup_->IsScanning(); },
              [&] {
                  // The found settings are shown; the saved ones stay in force until Apply.
                  beforeApply = app_.serialPort.Settings();
                  ClickLater(SetupButton("apply"));
              });
    script.Start(90s);
    window_->RunCommand(kCmdSerialPort);
    ASSERT_EQ(script.StepsDone(), script.StepCount());
    EXPECT_EQ(foundBaud, "2400");
    EXPECT_EQ(foundParity, "None");
    EXPECT_EQ(beforeApply, saved_);
    EXPECT_EQ(app_.serialPort.Settings(),
              (SerialLineSettings{saved_.name, 2400, kParityNone, kStopBitsOne, 8}));

    // The link comes back at the new settings.
    bool record = false;
    const auto connection =
        QObject::connect(&notifications_, &CQueuedNotificationSink::Notified,
                         [&](int code) { record |= code == kNotifyStatusRecord; });
    EXPECT_TRUE(testing::ProcessEventsUntil([&] { return record; }));
    QObject::disconnect(connection);
    EXPECT_TRUE(app_.unitState.Online);
}

}  // namespace
}  // namespace corvane3
