#include "gui/common/QueuedNotificationSink.h"

namespace corvane3 {

void CQueuedNotificationSink::PostNotification(int code) {
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(code);
    }
    // Always queued, never called directly: a post from the user-interface thread itself is
    // also handled only after the current event, as a posted window message would be.
    QMetaObject::invokeMethod(this, "DeliverPending", Qt::QueuedConnection);
}

void CQueuedNotificationSink::DeliverPending() {
    while (true) {
        int code = 0;
        {
            std::lock_guard lock(mutex_);
            if (pending_.empty()) {
                return;
            }
            code = pending_.front();
            pending_.pop_front();
        }
        emit Notified(code);
    }
}

}  // namespace corvane3
