#pragma once
// Carries notification codes from any thread into the user-interface thread: PostNotification
// queues the code, and Notified(code) is emitted later on the thread this object lives in.

#include <QObject>

#include "link/Notification.h"

namespace corvane3 {

class CQueuedNotificationSink : public QObject, public INotificationSink {
    Q_OBJECT
  public:
    explicit CQueuedNotificationSink(QObject* parent = nullptr) : QObject(parent) {}

    void PostNotification(int code) override;

  signals:
    void Notified(int code);
};

}  // namespace corvane3
