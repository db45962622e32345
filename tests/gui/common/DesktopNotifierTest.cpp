// The D-Bus side of desktop notifications, each test on a session bus of its own.

#include "gui/common/DesktopNotifier.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusPendingCallWatcher>
#include <string>

#include "support/PrivateSessionBus.h"
#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

using testing::ProcessEventsUntil;

DesktopAlert Alert(EAlertUrgency urgency, const std::string& key, const std::string& body) {
    DesktopAlert alert;
    alert.urgency = urgency;
    alert.summary = "Model Tq9000 SN 1234: " + key;
    alert.body = body;
    alert.icon = "dialog-error";
    alert.replaceKey = key;
    return alert;
}

// Until every call the notifier made has had its answer (or its error) handled.
bool AllAnswered(CDesktopNotifier& notifier) {
    return ProcessEventsUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return notifier.findChildren<QDBusPendingCallWatcher*>().isEmpty();
    });
}

using DesktopNotifierTest = testing::WidgetTest;

TEST_F(DesktopNotifierTest, EachAlertIsOneNotifyAndReplacesTheLastOfItsKind) {
    if (!testing::OnPrivateSessionBus()) {
        testing::RunCurrentTestOnPrivateSessionBus();
        return;
    }
    testing::CFakeNotificationService service;
    ASSERT_TRUE(service.Register());
    CDesktopNotifier notifier;
    notifier.Raise(Alert(EAlertUrgency::kCritical, "link", "on /dev/a<b>&c."));
    ASSERT_TRUE(AllAnswered(notifier));
    notifier.Raise(Alert(EAlertUrgency::kCritical, "link", "again"));
    notifier.Raise(Alert(EAlertUrgency::kNormal, "recording", "full"));
    ASSERT_TRUE(AllAnswered(notifier));

    const auto received = service.Received();
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0].appName, "Corvane3");
    EXPECT_EQ(received[0].summary, "Model Tq9000 SN 1234: link");
    // Services that read markup in the body show the path as it is.
    EXPECT_EQ(received[0].body, "on /dev/a&lt;b&gt;&amp;c.");
    EXPECT_EQ(received[0].icon, "dialog-error");
    EXPECT_EQ(received[0].desktopEntry, "corvane3");
    EXPECT_EQ(received[0].urgency, 2);
    EXPECT_EQ(received[0].replacesId, 0u);
    // The second link alert takes the place of the first; another kind stands on its own.
    EXPECT_EQ(received[1].replacesId, 1u);
    EXPECT_EQ(received[2].replacesId, 0u);
    EXPECT_EQ(received[2].urgency, 1);
}

}  // namespace
}  // namespace corvane3
