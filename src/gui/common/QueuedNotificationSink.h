#pragma once
// Carries notification codes from any thread into the user-interface thread: PostNotification
// queues the code, and Notified(code) is emitted later, in order, on the thread this object
// lives in.

#include <QObject>
#include <deque>
#include <mutex>

#include "core/link/Notification.h"

namespace corvane3 {

class CQueuedNotificationSink : public QObject, public INotificationSink {
    Q_OBJECT
public:
    explicit CQueuedNotificationSink(QObject* parent = nullptr) : QObject(parent) {}

    void PostNotification(int code) override;

signals:
    void Notified(int code);

private:
    // Emits Notified for every queued code.
    Q_INVOKABLE void DeliverPending();

    // The codes travel in a queue of our own, under a lock that thread checkers can see; the
    // event posted to the receiving thread only says that there is something to deliver.
    std::mutex mutex_;
    std::deque<int> pending_;
};

}  // namespace corvane3
