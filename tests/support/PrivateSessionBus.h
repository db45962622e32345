#pragma once
// Desktop notification tests: a session bus of the test's own, and a stand-in for the desktop's
// notification service on it.
//
//   TEST_F(SomeTest, Name) {
//       if (!testing::OnPrivateSessionBus()) {
//           testing::RunCurrentTestOnPrivateSessionBus();  // this test again, on its own bus
//           return;
//       }
//       testing::CFakeNotificationService service;
//       ASSERT_TRUE(service.Register());
//       ...
//   }

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "gui/common/DesktopNotifier.h"

extern char** environ;

namespace corvane3::testing {

// Set in the copy of a test that runs on its own bus.
inline constexpr char kPrivateBusMark[] = "CORVANE3_TEST_PRIVATE_BUS";
// The copy is given this long before it is ended.
inline constexpr std::chrono::seconds kPrivateRunBound{300};

inline bool OnPrivateSessionBus() {
    return std::getenv(kPrivateBusMark) != nullptr;
}

// Runs the current test again under dbus-run-session, which gives it a session bus of its own
// (a desktop's real bus would show the notifications, and its service owns the name), and
// waits for it; the copy's failures fail this test. Its output goes where this process's goes.
inline void RunCurrentTestOnPrivateSessionBus() {
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
    quint32 replacesId = 0;
    int urgency = -1;  // -1 when the hint is missing or not a byte
    QString desktopEntry;
};

// Stands in for the desktop's notification service, on a connection of its own: records every
// Notify call and answers it with the next id (1, 2, ...). Qt may call it on its D-Bus thread.
class CFakeNotificationService : public QDBusVirtualObject {
  public:
    ~CFakeNotificationService() override {
        if (registered_) {
            QDBusConnection bus(kConnectionName);
            bus.unregisterObject(QLatin1String(kNotificationsPath));
            QDBusConnection::disconnectFromBus(kConnectionName);
        }
    }

    // Takes the service's name on the session bus.
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
        std::lock_guard lock(mutex_);
        received_.push_back(
            {a[0].toString(), a[2].toString(), a[3].toString(), a[4].toString(), a[1].toUInt(),
             urgency.metaType() == QMetaType::fromType<uchar>() ? urgency.toInt() : -1,
             hints.value(QStringLiteral("desktop-entry")).toString()});
        connection.send(message.createReply(QVariant::fromValue(++lastId_)));
        return true;
    }

    std::vector<ReceivedNotification> Received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }

  private:
    static inline const QString kConnectionName = QStringLiteral("fake-notifications");
    bool registered_ = false;
    mutable std::mutex mutex_;
    std::vector<ReceivedNotification> received_;
    quint32 lastId_ = 0;
};

}  // namespace corvane3::testing
