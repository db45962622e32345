// The main window's desktop notifications, on a session bus of the test's own with a stand-in
// notification service, while the simulated unit raises alarms and goes away: one notification
// per event.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/PrivateSessionBus.h"
#include "support/SimWindowRig.h"

namespace corvane3 {
namespace {

using namespace std::chrono_literals;
using testing::CFakeNotificationService;
using testing::ProcessEventsUntil;
using testing::ReceivedNotification;

using DesktopNotificationsWithSimTest = testing::WidgetTest;

TEST_F(DesktopNotificationsWithSimTest, OnePerLinkDownAndNewAlarm) {
    if (!testing::OnPrivateSessionBus()) {
        testing::RunCurrentTestOnPrivateSessionBus();
        return;
    }
    CFakeNotificationService service;
    ASSERT_TRUE(service.Register());
    testing::TempDir dir;
    sim::SimulatorOptions options = testing::ModelOptions(kModelTq9000);
    options.instrument.serial = 2718;
    options.link = dir.Path() / "clock";  // kept across the unplugging
    testing::SimWindowRig rig(options);
    ASSERT_TRUE(rig.online);
    CMainStatusDlg& window = *rig.window;
    // Counted after the window has handled each record (it connected first).
    int records = 0;
    QObject::connect(&rig.notifications, &CQueuedNotificationSink::Notified, &window,
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

    // An alarm: one notification, not repeated by the polls while it stays pending.
    rig.Sim().WithInstrument([](sim::CSimulatedInstrument& unit) { unit.RaiseAlarm(0x26); });
    ASSERT_TRUE(ProcessEventsUntil([&] { return service.Received().size() >= 1; }))
        << "no notification arrived";
    ASSERT_TRUE(waitForRecords(2));
    ASSERT_EQ(summaries(), std::vector<std::string>({"Model Tq9000 SN 2718: Fuse A open"}));
    EXPECT_EQ(service.Received()[0].body, "Alarm 26 is pending.");
    // An operating unit with a blown fuse needs a look, not a person at once.
    EXPECT_EQ(service.Received()[0].urgency, 1);

    // Unplugged: one notification however many status lines say so; the alarm that is still
    // pending when the unit is back is not news.
    rig.Sim().Disconnect(1s);
    ASSERT_TRUE(ProcessEventsUntil([&] { return service.Received().size() >= 2; }, 60000));
    ASSERT_TRUE(ProcessEventsUntil([&] { return !window.ShowsStaleValues(); }, 60000));
    ASSERT_TRUE(waitForRecords(2));
    EXPECT_EQ(summaries(), std::vector<std::string>({"Model Tq9000 SN 2718: Fuse A open",
                                                     "Model Tq9000 SN 2718: Unit Not Responding"}));
    EXPECT_EQ(service.Received()[1].urgency, 2);
    EXPECT_TRUE(service.Received()[1].body.contains(QString::fromStdString(rig.Port())));
}

}  // namespace
}  // namespace corvane3
