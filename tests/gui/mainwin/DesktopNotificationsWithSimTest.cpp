// The main window's desktop notifications, on a session bus of the test's own with a stand-in
// notification service, while the simulated unit raises alarms and goes away: one notification
// per event, none while the user has them switched off.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QLabel>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "core/poll/PollingThread.h"
#include "gui/common/DesktopNotifier.h"
#include "gui/common/QueuedNotificationSink.h"
#include "gui/mainwin/MainStatusDlg.h"
#include "sim/SimulatorServer.h"
#include "support/TempDir.h"
#include "support/WidgetTestApplication.h"

extern char** environ;

namespace corvane3 {
namespace {

using namespace std::chrono_literals;
using testing::ProcessEventsUntil;

// Set in the copy of the test that runs on its own bus.
constexpr char kPrivateBusMark[] = "CORVANE3_TEST_PRIVATE_BUS";
// The copy is given this long before it is ended.
constexpr auto kPrivateRunBound = 300s;

// Runs the current test again under dbus-run-session, which gives it a session bus of its own
// (a desktop's real bus would show the notifications and owns the service's name), and waits
// for it. Its output goes where this process's goes.
void RunOnPrivateBus() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    // The path itself: dbus-run-session would read /proc/self/exe as its own.
    std::error_code error;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe", error).string();
    ASSERT_FALSE(error) << error.message();
    std::vector<std::string> arguments = {
        "dbus-run-session", "--", self,
        std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name()};
    std::vector<std::string> environment = {std::string(kPrivateBusMark) + "=1"};
    for (char** variable = environ; *variable != nullptr; ++variable) {
        environment.emplace_back(*variable);
    }
    std::vector<char*> argv, envp;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    for (std::string& variable : environment) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
    pid_t pid = -1;
    ASSERT_EQ(::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()), 0)
        << "dbus-run-session (Debian package dbus) is needed";
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + kPrivateRunBound;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            FAIL() << "the test on its own session bus did not end in time";
        }
        ::usleep(50000);
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the test on its own session bus failed (its output is above)";
}

struct ReceivedNotification {
    QString appName, icon, summary, body;
    int urgency = -1;
};

// Stands in for the desktop's notification service: records every Notify call and answers it
// with a new id. Qt may call it on its D-Bus thread.
class CFakeNotificationService : public QDBusVirtualObject {
  public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() != QLatin1String("Notify") || message.arguments().size() != 8) {
            connection.send(message.createErrorReply(QDBusError::UnknownMethod, "not here"));
            return true;
        }
        const QList<QVariant> a = message.arguments();
        const auto hints = qdbus_cast<QVariantMap>(a[6].value<QDBusArgument>());
        const QVariant urgency = hints.value(QStringLiteral("urgency"));
        std::lock_guard lock(mutex_);
        received_.push_back(
            {a[0].toString(), a[2].toString(), a[3].toString(), a[4].toString(),
             urgency.metaType() == QMetaType::fromType<uchar>() ? urgency.toInt() : -1});
        connection.send(message.createReply(QVariant::fromValue(++lastId_)));
        return true;
    }

    std::vector<ReceivedNotification> Received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<ReceivedNotification> received_;
    quint32 lastId_ = 0;
};

using DesktopNotificationsWithSimTest = testing::WidgetTest;

TEST_F(DesktopNotificationsWithSimTest, OnePerLinkDownAndNewAlarmNoneWhileSwitchedOff) {
    if (std::getenv(kPrivateBusMark) == nullptr) {
        RunOnPrivateBus();
        return;
    }
    CFakeNotificationService service;
    QDBusConnection serviceBus =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("service"));
    ASSERT_TRUE(serviceBus.isConnected());
    ASSERT_TRUE(serviceBus.registerVirtualObject(QLatin1String(kNotificationsPath), &service));
    ASSERT_TRUE(serviceBus.registerService(QLatin1String(kNotificationsService)));

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
        EXPECT_EQ(alarm.urgency, 2);
        EXPECT_FALSE(alarm.icon.isEmpty());

        // Unplugged: one notification however many status lines say so; the alarm that is
        // still pending when the unit is back is not news.
        sim.Disconnect(1s);
        ASSERT_TRUE(ProcessEventsUntil([&] { return service.Received().size() >= 2; }, 60000));
        ASSERT_TRUE(ProcessEventsUntil([&] { return !window.ShowsStaleValues(); }, 60000));
        ASSERT_TRUE(waitForRecords(2));
        ASSERT_EQ(summaries(), std::vector<std::string>({"Model Tq9000 SN 2718: Fuse A open",
                                            "Model Tq9000 SN 2718: Unit Not Responding"}));
        const ReceivedNotification down = service.Received()[1];
        EXPECT_EQ(down.urgency, 2);
        EXPECT_TRUE(down.body.contains(QString::fromStdString(options.link.string())));

        // Switched off: neither a link that drops nor a new alarm is told; switched on again,
        // only what happens from then on is.
        app.settings.DesktopNotifications = false;
        sim.Disconnect(1s);
        ASSERT_TRUE(ProcessEventsUntil([&] { return window.ShowsStaleValues(); }, 60000));
        ASSERT_TRUE(ProcessEventsUntil([&] { return !window.ShowsStaleValues(); }, 60000));
        sim.WithInstrument([](sim::CSimulatedInstrument& unit) { unit.RaiseAlarm(0x27); });
        auto* faults = window.findChild<QLabel*>("valueFaultList");
        ASSERT_TRUE(ProcessEventsUntil([&] { return faults->text().contains("27"); }));
        app.settings.DesktopNotifications = true;
        sim.WithInstrument([](sim::CSimulatedInstrument& unit) { unit.RaiseAlarm(0x80); });
        ASSERT_TRUE(ProcessEventsUntil([&] { return service.Received().size() >= 3; }));
        ASSERT_TRUE(waitForRecords(1));
        // Calls from one connection arrive in order: one sent while off would come before.
        EXPECT_EQ(summaries(), std::vector<std::string>({"Model Tq9000 SN 2718: Fuse A open",
                                            "Model Tq9000 SN 2718: Unit Not Responding",
                                            "Model Tq9000 SN 2718: Software Failure"}));
        EXPECT_TRUE(polling.StopBackgroundThread());
    }
    app.linkStatus.SetSink(nullptr);
    serviceBus.unregisterObject(QLatin1String(kNotificationsPath));
    QDBusConnection::disconnectFromBus(QStringLiteral("service"));
}

}  // namespace
}  // namespace corvane3
