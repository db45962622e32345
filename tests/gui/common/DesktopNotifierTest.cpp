// The D-Bus side of desktop notifications, each test on a session bus of its own.

#include "gui/common/DesktopNotifier.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusPendingCallWatcher>
#include <cstdio>
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

TEST_F(DesktopNotifierTest, WithoutAServiceAlertsAreDroppedAndSaidOnceOnStandardError) {
    if (!testing::OnPrivateSessionBus()) {
        testing::RunCurrentTestOnPrivateSessionBus();
        return;
    }
    std::FILE* captured = std::tmpfile();
    ASSERT_NE(captured, nullptr);
    std::fflush(stderr);
    const int savedStderr = ::dup(STDERR_FILENO);
    ::dup2(::fileno(captured), STDERR_FILENO);
    {
        CDesktopNotifier notifier;
        for (int i = 0; i < 3; ++i) {
            notifier.Raise(Alert(EAlertUrgency::kCritical, "link", "gone"));
        }
        EXPECT_TRUE(AllAnswered(notifier));
    }
    std::fflush(stderr);
    ::dup2(savedStderr, STDERR_FILENO);
    ::close(savedStderr);
    std::string text(4096, '\0');
    std::rewind(captured);
    text.resize(std::fread(text.data(), 1, text.size(), captured));
    std::fclose(captured);
    const std::string said = "corvane3: desktop notifications are not shown: ";
    const std::size_t first = text.find(said);
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_EQ(text.find(said, first + 1), std::string::npos) << text;
}

}  // namespace
}  // namespace corvane3
