#include "gui/common/DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>
#include <cstdio>

namespace corvane3 {

namespace {

constexpr char kAppName[] = "Corvane3";
// The desktop entry the package installs (corvane3.desktop): the service may show its icon.
constexpr char kDesktopEntry[] = "corvane3";
// The service's own default display time.
constexpr qint32 kDefaultExpiry = -1;

// Services that read markup in the body would swallow a '<' or '&' of a path.
QString EscapedBody(const std::string& body) {
    QString text = QString::fromStdString(body);
    text.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    text.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    text.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    return text;
}

}  // namespace

CDesktopNotifier::CDesktopNotifier(QObject* parent) : QObject(parent) {}

CDesktopNotifier::~CDesktopNotifier() = default;

void CDesktopNotifier::Raise(const DesktopAlert& alert) {
    // Looking for a bus that is not there may start a helper program: once a run is enough.
    if (noBus_) {
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        noBus_ = true;
        WarnOnce(QStringLiteral("no session bus (%1)").arg(bus.lastError().message()));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QLatin1String(kNotificationsService), QLatin1String(kNotificationsPath),
        QLatin1String(kNotificationsInterface), QStringLiteral("Notify"));
    QVariantMap hints;
    // The urgency hint is a byte on the wire.
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(static_cast<uchar>(alert.urgency)));
    hints.insert(QStringLiteral("desktop-entry"), QLatin1String(kDesktopEntry));
    const auto known = ids_.find(alert.replaceKey);
    const quint32 replaces = known != ids_.end() ? known->second : 0;
    call << QLatin1String(kAppName) << replaces << QString::fromStdString(alert.icon)
         << QString::fromStdString(alert.summary) << EscapedBody(alert.body) << QStringList()
         << hints << kDefaultExpiry;

    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, key = alert.replaceKey](QDBusPendingCallWatcher* finished) {
                const QDBusPendingReply<quint32> reply = *finished;
                if (reply.isError()) {
                    WarnOnce(reply.error().message());
                } else if (!key.empty()) {
                    ids_[key] = reply.value();
                }
                finished->deleteLater();
            });
}

void CDesktopNotifier::WarnOnce(const QString& why) {
    if (warned_) {
        return;
    }
    warned_ = true;
    std::fprintf(stderr, "corvane3: desktop notifications are not shown: %s\n",
                 why.toLocal8Bit().constData());
}

}  // namespace corvane3
