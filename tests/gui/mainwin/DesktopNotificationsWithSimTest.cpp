// The main window's desktop notifications, on a session bus of the test's own with a stand-in
// notification service, while the simulated unit raises alarms and goes away: one notification
// per event, none while the user has them switched off.

#include <gtest/gtest.h>

#include <QLabel>
#include <chrono>
#include <string>
#include <vector>

#include "core/poll/PollingThread.h"
#include "gui/common/DesktopNotifier.h"
#include "gui/common/QueuedNotificationSink.h"
#include "gui/mainwin/MainStatusDlg.h"
#include "sim/SimulatorServer.h"
#include "support/PrivateSessionBus.h"
#include "support/TempDir.h"
#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

using namespace std::chrono_literals;
using testing::CFakeNotificationService;
using testing::ProcessEventsUntil;
using testing::ReceivedNotification;

using DesktopNotificationsWithSimTest = testing::WidgetTest;

TEST_F(DesktopNotificationsWithSimTest, OnePerLinkDownAndNewAlarmNoneWhileSwitchedOff) {
    if (!testing::OnPrivateSessionBus()) {
        testing::RunCurrentTestOnPrivateSessionBus();
        return;
    }
    CFakeNotificationService service;
    ASSERT_TRUE(service.Register());

    testing::TempDir dir;
    sim::SimulatorOptions options;
    options.instrument.model = kModelTq9000;
    options.instrument.serial = 2718;
    options.instrument.warmup = 0ms;
    options.link = dir.Path() / "clock";
    sim::CSimulatorServer sim(options);
    ASSERT_TRUE(sim.IsOpen()) << sim.Error();

    Corvane3App app;
    app.settings.PollingInterval = kMinPollingInterval;
    app.serialPort.SetSettings({options.link.string(), 9600, kParityOdd, kStopBitsTwo, 7});
    CQueuedNotificationSink notifications;
    app.linkStatus.SetSink(&notifications);
    {
        CPollingThread polling(app.serialPort, app.unitState, app.linkStatus, app.polling,
                               app.settings, notifications);
        CMainStatusDlg window(app, notifications, &polling);
        // Counted after the window has handled each record (it connected first).
        int records = 0;
        QObject::connect(&notifications, &CQueuedNotificationSink::Notified, &window,
                         [&](int code) { records += code == kNotifyStatusRecord ? 1 : 0; });
        const auto summaries = [&] {
            std::vector<std::string> list;
            for (const ReceivedNotification& n : service.Received()) {
                list.push_back(n.summary.toStdString());
            }
            return list;
        };
        const auto waitForRecords = [&](int more) {
            const int until = records + more;
            return ProcessEventsUntil([&] { return records >= until; });
        };
        window.show();
        ASSERT_TRUE(ProcessEventsUntil([&] { return records >= 1; }));

        // An alarm: one notification, not repeated by the polls while it stays pending.
        sim.WithInstrument([](sim::CSimulatedInstrument& unit) { unit.RaiseAlarm(0x26); });
        ASSERT_TRUE(ProcessEventsUntil([&] { return service.Received().size() >= 1; }))
            << "no notification arrived";
        ASSERT_TRUE(waitForRecords(2));
        ASSERT_EQ(summaries(), std::vector<std::string>({"Model Tq9000 SN 2718: Fuse A open"}));
        const ReceivedNotification alarm = service.Received()[0];
        EXPECT_EQ(alarm.appName, "Corvane3");
        EXPECT_EQ(alarm.body, "Alarm 26 is pending.");
        // An operating unit with a blown fuse needs a look, not a person at once.
        EXPECT_EQ(alarm.urgency, 1);
        EXPECT_EQ(alarm.icon, "dialog-warning");

        // Unplugged: one notification however many status lines say so; the alarm that is
        // still pending when the unit is back is not news.
        sim.Disconnect(1s);
        ASSERT_TRUE(ProcessEventsUntil([&] { return service.Received().size() >= 2; }, 60000));
        ASSERT_TRUE(ProcessEventsUntil([&] { return !window.ShowsStaleValues(); }, 60000));
        ASSERT_TRUE(waitForRecords(2));
        ASSERT_EQ(summaries(),
                  std::vector<std::string>({"Model Tq9000 SN 2718: Fuse A open",
                                            "Model Tq9000 SN 2718: Unit Not Responding"}));
        const ReceivedNotification down = service.Received()[1];
        EXPECT_EQ(down.urgency, 2);
        EXPECT_TRUE(down.body.contains(QString::fromStdString(options.link.string())));

        // Switched off: neither a link that drops nor a new alarm is told; switched on again,
        // only what happens from then on is.
        app.settings.DesktopNotifications = false;
        // Down until the window shows it: a link back within the second could go down and up
        // between two looks at the window on a busy machine.
        sim.Disconnect();
        ASSERT_TRUE(ProcessEventsUntil([&] { return window.ShowsStaleValues(); }, 60000));
        sim.Disconnect(0ms);  // back at once
        ASSERT_TRUE(ProcessEventsUntil([&] { return !window.ShowsStaleValues(); }, 60000));
        sim.WithInstrument([](sim::CSimulatedInstrument& unit) { unit.RaiseAlarm(0x27); });
        auto* faults = window.findChild<QLabel*>("valueFaultList");
        ASSERT_TRUE(ProcessEventsUntil([&] { return faults->text().contains("27"); }));
        app.settings.DesktopNotifications = true;
        sim.WithInstrument([](sim::CSimulatedInstrument& unit) { unit.RaiseAlarm(0x80); });
        ASSERT_TRUE(ProcessEventsUntil([&] { return service.Received().size() >= 3; }));
        ASSERT_TRUE(waitForRecords(1));
        // Calls from one connection arrive in order: one sent while off would come before.
        EXPECT_EQ(summaries(),
                  std::vector<std::string>({"Model Tq9000 SN 2718: Fuse A open",
                                            "Model Tq9000 SN 2718: Unit Not Responding",
                                            "Model Tq9000 SN 2718: Software Failure"}));
        EXPECT_TRUE(polling.StopBackgroundThread());
    }
    app.linkStatus.SetSink(nullptr);
}

}  // namespace
}  // namespace corvane3
