#include "core/link/LinkStatus.h"

#include <utility>

namespace corvane3 {

void CLinkStatus::SetSink(INotificationSink* sink) {
    std::lock_guard lock(mutex_);
    sink_ = sink;
}

void CLinkStatus::SetLinkStatus(ELinkState state) {
    Set(state, LinkStateInfoOf(state).text);
}

void CLinkStatus::SetLinkStatus(ELinkState state, const std::string& detail) {
    Set(state, std::string(LinkStateInfoOf(state).text) + ": " + detail);
}

void CLinkStatus::SetCountdown(long long secondsLeft) {
    Set(ELinkState::kCountdown,
        LinkStateInfoOf(ELinkState::kCountdown).text + std::to_string(secondsLeft));
}

void CLinkStatus::SetStepProgress(const std::string& line) {
    Set(ELinkState::kStepProgress, line);
}

void CLinkStatus::Set(ELinkState state, std::string text) {
    INotificationSink* sink;
    {
        std::lock_guard lock(mutex_);
        line_ = LinkStatusLine{state, std::move(text)};
        sink = sink_;
    }
    // Posted outside the lock so a receiver that reads Line() at once cannot deadlock.
    if (sink != nullptr) {
        sink->PostNotification(kNotifyLinkStatusChanged);
    }
}

LinkStatusLine CLinkStatus::Line() const {
    std::lock_guard lock(mutex_);
    return line_;
}

}  // namespace corvane3
