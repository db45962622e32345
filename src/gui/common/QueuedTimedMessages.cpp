#include "gui/common/QueuedTimedMessages.h"

#include "gui/common/TimedMessageDlg.h"

namespace corvane3 {

void CQueuedTimedMessages::ShowTimedMessage(const std::string& text, const std::string& title) {
    {
        std::lock_guard lock(mutex_);
        pending_.emplace_back(text, title);
    }
    QMetaObject::invokeMethod(this, "ShowPending", Qt::QueuedConnection);
}

void CQueuedTimedMessages::ShowPending() {
    // A message that arrives while one is up waits for it instead of opening on top of it.
    if (showing_) {
        return;
    }
    showing_ = true;
    while (true) {
        std::pair<std::string, std::string> message;
        {
            std::lock_guard lock(mutex_);
            if (pending_.empty()) {
                break;
            }
            message = std::move(pending_.front());
            pending_.pop_front();
        }
        const QString text = QString::fromStdString(message.first);
        const QString title = QString::fromStdString(message.second);
        CTimedMessageDlg dialog(text, title, kNotificationSeconds);
        emit Showing(text, title);
        dialog.exec();
    }
    showing_ = false;
}

}  // namespace corvane3
