// "Configure Serial Port" and its search for an instrument, from the main window's menu, with
// the polling thread against the simulated instrument.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "core/poll/PollingThread.h"
#include "gui/common/QueuedNotificationSink.h"
#include "gui/mainwin/MainStatusDlg.h"
#include "gui/serial/ScanningDlg.h"
#include "gui/serial/SerialSetupDlg.h"
#include "sim/SimulatorServer.h"
#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

using namespace std::chrono_literals;

// Drives modal windows from a timer while the test sits in a modal run: each step acts once its
// condition holds, in order. Past the deadline it closes whatever is modal, so the test ends
// instead of hanging.
class ModalScript {
  public:
    ModalScript& Then(std::function<bool()> ready, std::function<void()> act) {
        steps_.emplace_back(std::move(ready), std::move(act));
        return *this;
    }
    void Start(std::chrono::milliseconds deadline) {
        deadline_.setRemainingTime(deadline);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (next_ < steps_.size() && steps_[next_].first()) {
                steps_[next_++].second();
            } else if (deadline_.hasExpired() && QApplication::activeModalWidget() != nullptr) {
                QMetaObject::invokeMethod(QApplication::activeModalWidget(), "reject",
                                          Qt::QueuedConnection);
            }
        });
        timer_.start(20);
    }
    bool Done() const { return next_ == steps_.size(); }

  private:
    std::vector<std::pair<std::function<bool()>, std::function<void()>>> steps_;
    std::size_t next_ = 0;
    QTimer timer_;
    QDeadlineTimer deadline_;
};

// Clicks later, from the event loop, so that a step never blocks in the modal run it starts.
void ClickLater(QPushButton* button) {
    QTimer::singleShot(0, button, &QPushButton::click);
}

QMessageBox* OpenMessageBox(const QString& text) {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    return box != nullptr && box->text() == text ? box : nullptr;
}

using SerialSetupWithSimTest = testing::WidgetTest;

TEST_F(SerialSetupWithSimTest, CancelledDetectLeavesThePortAsItWasAndAFoundUnitIsApplied) {
    // A unit at 2400 baud, 8N1, silent at first.
    sim::SimulatorOptions options;
    options.instrument.model = kModelChronoBeam;
    options.instrument.warmup = 0ms;
    options.instrument.line = {2400, 8, 'N', 1};
    options.faults.silent = true;
    sim::CSimulatorServer sim(options);
    ASSERT_TRUE(sim.IsOpen()) << sim.Error();
    Corvane3App app;
    const SerialLineSettings saved{sim.SlavePath(), 9600, kParityOdd, kStopBitsTwo, 7};
    app.serialPort.SetSettings(saved);
    app.settings.PollingInterval = kMinPollingInterval;
    CQueuedNotificationSink notifications;
    app.linkStatus.SetSink(&notifications);
    PollingHooks hooks;
    hooks.listPorts = [&] { return std::vector<std::string>{saved.name}; };
    CPollingThread polling(app.serialPort, app.unitState, app.linkStatus, app.polling, app.settings,
                           notifications, hooks);
    CMainStatusDlg window(app, notifications, &polling);
    auto* setup = window.findChild<CSerialSetupDlg*>();
    ASSERT_NE(setup, nullptr);
    const auto button = [&](const char* name) { return setup->findChild<QPushButton*>(name); };
    const auto selected = [&](const char* list) {
        return setup->findChild<QComboBox*>(list)->currentText();
    };
    const auto settled = [&] { return button("apply")->isEnabled() && !setup->IsScanning(); };

    QString attempt, foundBaud, foundParity;
    SerialLineSettings afterCancel, beforeApply;
    ModalScript script;
    script
        .Then([&] { return setup->isVisible(); }, [&] { ClickLater(button("detect")); })
        // Cancel once "Scanning ..." shows the search trying other settings.
        .Then(
            [&] {
                return setup->IsScanning() &&
                       setup->Scanning().AttemptText() != SearchAttemptText(saved);
            },
            [&] {
                attempt = setup->Scanning().AttemptText();
                ClickLater(setup->Scanning().findChild<QPushButton*>("cancel"));
            })
        // A cancelled search says so, not that there is no instrument.
        .Then([&] { return OpenMessageBox("Search cancelled.") != nullptr; },
              [&] { OpenMessageBox("Search cancelled.")->accept(); })
        .Then(settled,
              [&] {
                  afterCancel = app.serialPort.Settings();
                  sim.UpdateFaults([](sim::SimFaults& faults) { faults.silent = false; });
                  ClickLater(button("detect"));
              })
        .Then([&] { return OpenMessageBox("Cesium instrument located...") != nullptr; },
              [&] {
                  foundBaud = selected("baudRate");
                  foundParity = selected("parity");
                  OpenMessageBox("Cesium instrument located...")->accept();
              })
        .Then(settled, [&] {
            // The found settings are shown; the saved ones stay in force until Apply.
            beforeApply = app.serialPort.Settings();
            ClickLater(button("apply"));
        });
    script.Start(150s);
    window.RunCommand(kCmdSerialPort);
    ASSERT_TRUE(script.Done());
    EXPECT_TRUE(attempt.startsWith("Trying " + QString::fromStdString(saved.name) + " at "))
        << attempt.toStdString();
    EXPECT_EQ(afterCancel, saved);
    EXPECT_EQ(foundBaud, "2400");
    EXPECT_EQ(foundParity, "None");
    EXPECT_EQ(beforeApply, saved);
    EXPECT_EQ(app.serialPort.Settings(),
              (SerialLineSettings{saved.name, 2400, kParityNone, kStopBitsOne, 8}));
    // The link comes back at the new settings.
    EXPECT_TRUE(
        testing::ProcessEventsUntil([&] { return window.StatusPane(2)->text() == "Operating"; }));
    EXPECT_TRUE(polling.StopBackgroundThread());
    app.linkStatus.SetSink(nullptr);
}

}  // namespace
}  // namespace corvane3
