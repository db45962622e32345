// The D-Bus side of desktop notifications, each test on a session bus of its own.

#include "gui/common/DesktopNotifier.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVirtualObject>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

using testing::ProcessEventsUntil;

// Set in the copy of a test that runs on its own bus.
constexpr char kPrivateBusMark[] = "CORVANE3_TEST_PRIVATE_BUS";

// Runs the current test again under dbus-run-session, which gives it a session bus of its own
// (a desktop's real bus would show the notifications, and its service owns the name), and
// waits for it; the copy's failures fail this test, with its output.
void RunCurrentTestOnPrivateSessionBus() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    // The path itself: dbus-run-session would read /proc/self/exe as its own.
    std::error_code error;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe", error).string();
    ASSERT_FALSE(error) << error.message();
    // The copy inherits the mark; this process, which goes on with other tests, does not keep it.
    ::setenv(kPrivateBusMark, "1", 1);
    testing::ChildProcess copy({"/usr/bin/dbus-run-session", "--", self,
                                std::string("--gtest_filter=") + test->test_suite_name() + "." +
                                    test->name()});
    ::unsetenv(kPrivateBusMark);
    const std::string output = copy.ReadAll();
    EXPECT_EQ(copy.Wait(), 0) << "the test on its own session bus failed (dbus-run-session, "
                                 "Debian package dbus, is needed):\n"
                              << output << copy.Err();
}

// Stands in for the desktop's notification service, on a connection of its own: records every
// Notify call as "app|icon|summary|body|replaced id|urgency|desktop entry" (urgency -1 when the
// hint is missing or not a byte) and answers it with the next id (1, 2, ...). Qt may call it on
// its D-Bus thread.
class CFakeNotificationService : public QDBusVirtualObject {
  public:
    ~CFakeNotificationService() override {
        if (registered_) {
            QDBusConnection bus(kConnectionName);
            bus.unregisterObject(QLatin1String(kNotificationsPath));
            QDBusConnection::disconnectFromBus(kConnectionName);
        }
    }

    bool Register() {
        QDBusConnection bus =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, kConnectionName);
        registered_ = bus.isConnected() &&
                      bus.registerVirtualObject(QLatin1String(kNotificationsPath), this) &&
                      bus.registerService(QLatin1String(kNotificationsService));
        return registered_;
    }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QList<QVariant> a = message.arguments();
        if (message.member() != QLatin1String("Notify") || a.size() != 8) {
            connection.send(message.createErrorReply(QDBusError::UnknownMethod, "not here"));
            return true;
        }
        const auto hints = qdbus_cast<QVariantMap>(a[6].value<QDBusArgument>());
        const QVariant urgency = hints.value(QStringLiteral("urgency"));
        const int urgencyByte =
            urgency.metaType() == QMetaType::fromType<uchar>() ? urgency.toInt() : -1;
        std::lock_guard lock(mutex_);
        received_.push_back(QStringList{a[0].toString(), a[2].toString(), a[3].toString(),
                                        a[4].toString(), QString::number(a[1].toUInt()),
                                        QString::number(urgencyByte),
                                        hints.value(QStringLiteral("desktop-entry")).toString()}
                                .join('|')
                                .toStdString());
        connection.send(message.createReply(QVariant::fromValue(++lastId_)));
        return true;
    }

    std::vector<std::string> Received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }

  private:
    static inline const QString kConnectionName = QStringLiteral("fake-notifications");
    bool registered_ = false;
    mutable std::mutex mutex_;
    std::vector<std::string> received_;
    quint32 lastId_ = 0;
};

DesktopAlert Alert(EAlertUrgency urgency, const std::string& key, const std::string& body) {
    return {.urgency = urgency,
            .summary = "Model Tq9000 SN 1234: " + key,
            .body = body,
            .icon = "dialog-error",
            .replaceKey = key};
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
    if (std::getenv(kPrivateBusMark) == nullptr) {
        RunCurrentTestOnPrivateSessionBus();
        return;
    }
    CDesktopNotifier notifier;
    // No service on the bus yet: the alerts are dropped, and that is said once.
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 3; ++i)
        notifier.Raise(Alert(EAlertUrgency::kCritical, "link", "gone"));
    EXPECT_TRUE(AllAnswered(notifier));
    const std::string said = ::testing::internal::GetCapturedStderr();
    const std::string notShown = "corvane3: desktop notifications are not shown: ";
    EXPECT_EQ(said.find(notShown), said.rfind(notShown)) << said;
    EXPECT_NE(said.find(notShown), std::string::npos) << said;

    CFakeNotificationService service;
    ASSERT_TRUE(service.Register());
    notifier.Raise(Alert(EAlertUrgency::kCritical, "link", "on /dev/a<b>&c."));
    ASSERT_TRUE(AllAnswered(notifier));
    notifier.Raise(Alert(EAlertUrgency::kCritical, "link", "again"));
    notifier.Raise(Alert(EAlertUrgency::kNormal, "recording", "full"));
    ASSERT_TRUE(AllAnswered(notifier));

    // Services that read markup in the body show the path as it is. The second link alert takes
    // the place of the first (id 1); another kind stands on its own.
    const std::string head = "Corvane3|dialog-error|Model Tq9000 SN 1234: ";
    EXPECT_EQ(service.Received(),
              (std::vector<std::string>{head + "link|on /dev/a&lt;b&gt;&amp;c.|0|2|corvane3",
                                        head + "link|again|1|2|corvane3",
                                        head + "recording|full|0|1|corvane3"}));
}

}  // namespace
}  // namespace corvane3
