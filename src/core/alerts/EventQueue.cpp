#include "core/alerts/EventQueue.h"

#include <algorithm>
#include <iterator>

namespace corvane3 {

namespace {

constexpr char kCritical[] = "critical";

bool IsCritical(const QueuedEvent& queued) { return queued.event.severity == kCritical; }

}  // namespace

std::string EventSubject(const UnitEvent& event) {
    // "link-lost"/"link-back", "alarm"/"alarm-cleared", "limit-crossed"/"limit-cleared"/...
    return event.name.substr(0, event.name.find('-')) + '|' + event.channel;
}

bool CEventQueue::Push(QueuedEvent queued) {
    queue_.push_back(std::move(queued));
    if (queue_.size() <= capacity_) {
        return false;
    }
    const auto superseded = [this](auto at) {
        const std::string subject = EventSubject(at->event);
        return std::any_of(std::next(at), queue_.end(), [&](const QueuedEvent& later) {
            return EventSubject(later.event) == subject;
        });
    };
    auto drop = queue_.begin();
    while (drop != queue_.end() && !superseded(drop)) {
        ++drop;
    }
    if (drop == queue_.end()) {
        drop = std::find_if(queue_.begin(), queue_.end(),
                            [](const QueuedEvent& q) { return !IsCritical(q); });
    }
    queue_.erase(drop == queue_.end() ? queue_.begin() : drop);
    return true;
}

QueuedEvent CEventQueue::Take() {
    auto next = queue_.begin();
    for (auto at = queue_.begin(); at != queue_.end(); ++at) {
        if (!IsCritical(*at)) {
            continue;
        }
        const std::string subject = EventSubject(at->event);
        if (std::none_of(queue_.begin(), at, [&](const QueuedEvent& earlier) {
                return EventSubject(earlier.event) == subject;
            })) {
            next = at;
            break;
        }
    }
    QueuedEvent taken = std::move(*next);
    queue_.erase(next);
    return taken;
}

}  // namespace corvane3
