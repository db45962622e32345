#include "mainwin/QueuedNotificationSink.h"

namespace corvane3 {

void CQueuedNotificationSink::PostNotification(int code) {
    // Always queued, never called directly: a post from the user-interface thread itself is
    // also handled only after the current event, as a posted window message would be.
    QMetaObject::invokeMethod(
        this, [this, code] { emit Notified(code); }, Qt::QueuedConnection);
}

}  // namespace corvane3
