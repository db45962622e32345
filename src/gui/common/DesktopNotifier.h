#pragma once
// Shows desktop alerts as freedesktop notifications (org.freedesktop.Notifications.Notify on
// the session bus). Calls are asynchronous: nothing here waits for the notification service.
// Without a session bus or a notification service the alerts are dropped; the first such
// failure is written once to standard error, never shown in a window.
// User-interface thread only.

#include <QObject>
#include <QString>
#include <map>
#include <string>

#include "core/alerts/DesktopAlerts.h"

class QDBusConnection;

namespace corvane3 {

// The freedesktop notification service's well-known name, object path and interface.
inline constexpr char kNotificationsService[] = "org.freedesktop.Notifications";
inline constexpr char kNotificationsPath[] = "/org/freedesktop/Notifications";
inline constexpr char kNotificationsInterface[] = "org.freedesktop.Notifications";

class CDesktopNotifier : public QObject, public IDesktopAlertSink {
    Q_OBJECT
  public:
    explicit CDesktopNotifier(QObject* parent = nullptr);
    ~CDesktopNotifier() override;

    // Sends the Notify call and returns at once. An alert with the replace key of an earlier
    // one that the service has numbered replaces that notification.
    void Raise(const DesktopAlert& alert) override;

  private:
    void WarnOnce(const QString& why);

    bool warned_ = false;
    bool noBus_ = false;
    // The id the service gave the last notification of each replace key.
    std::map<std::string, quint32> ids_;
};

}  // namespace corvane3
