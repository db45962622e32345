// "Configure Serial Port" and its search for an instrument, from the main window's menu, with
// the polling thread against the simulated instrument.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "core/poll/PollingThread.h"
#include "gui/common/QueuedNotificationSink.h"
#include "gui/mainwin/MainStatusDlg.h"
#include "gui/serial/ScanningDlg.h"
#include "gui/serial/SerialSetupDlg.h"
#include "sim/SimulatorServer.h"
#include "support/ModalScript.h"
#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

using namespace std::chrono_literals;

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
    const auto settled = [&] { return button("apply")->isEnabled() && !setup->IsScanning(); };

    QString attempt;
    SerialLineSettings afterCancel, beforeApply;
    testing::ModalScript script;
    script
        .Then([&] { return setup->isVisible(); }, [&] { button("detect")->click(); })
        // Cancel once "Scanning ..." shows the search trying other settings.
        .Then(
            [&] {
                return setup->IsScanning() &&
                       setup->Scanning().AttemptText() != SearchAttemptText(saved);
            },
            [&] {
                attempt = setup->Scanning().AttemptText();
                setup->Scanning().findChild<QPushButton*>("cancel")->click();
            })
        // A cancelled search says so, not that there is no instrument.
        .Then([&] { return OpenMessageBox("Search cancelled.") != nullptr; },
              [&] { OpenMessageBox("Search cancelled.")->accept(); })
        .Then(settled,
              [&] {
                  afterCancel = app.serialPort.Settings();
                  sim.UpdateFaults([](sim::SimFaults& faults) { faults.silent = false; });
                  button("detect")->click();
              })
        .Then([&] { return OpenMessageBox("Cesium instrument located...") != nullptr; },
              [&] { OpenMessageBox("Cesium instrument located...")->accept(); })
        .Then(settled, [&] {
            // The found settings are shown (Apply takes what is shown); the saved ones stay in
            // force until Apply.
            beforeApply = app.serialPort.Settings();
            button("apply")->click();
        });
    script.Start(150s);
    window.RunCommand(kCmdSerialPort);
    ASSERT_TRUE(script.Done());
    EXPECT_TRUE(attempt.startsWith("Trying " + QString::fromStdString(saved.name) + " at "))
        << attempt.toStdString();
    EXPECT_EQ(afterCancel, saved);
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
