#include "core/link/LinkStatus.h"

namespace corvane3 {

void CLinkStatus::SetSink(INotificationSink* sink) {
    std::lock_guard lock(mutex_);
    sink_ = sink;
}

void CLinkStatus::SetLinkStatus(const std::string& text) {
    INotificationSink* sink;
    {
        std::lock_guard lock(mutex_);
        text_ = text;
        sink = sink_;
    }
    // Posted outside the lock so a receiver that reads Text() at once cannot deadlock.
    if (sink != nullptr) {
        sink->PostNotification(kNotifyLinkStatusChanged);
    }
}

std::string CLinkStatus::Text() const {
    std::lock_guard lock(mutex_);
    return text_;
}

}  // namespace corvane3
