#pragma once
// The events waiting for the user's program, bounded so that a program that cannot keep up
// costs neither memory nor the newest news:
//   - a critical event is taken before lesser ones, unless an earlier event about the same
//     thing (the link, an alarm code, a reading) still waits: a person hears "link lost"
//     before 60 limit events, but never "link back" before the "link lost" it answers;
//   - when the queue is full, the event dropped is the oldest one a later event about the
//     same thing supersedes, else the oldest lesser one, else the oldest: the last word about
//     each thing is kept.
//
// No locking: its owner holds the lock.

#include <cstddef>
#include <deque>
#include <string>

#include "core/alerts/UnitEvents.h"

namespace corvane3 {

struct QueuedEvent {
    UnitEvent event;
    std::string time;  // when it happened, UTC, ISO 8601
};

class CEventQueue {
  public:
    explicit CEventQueue(std::size_t capacity) : capacity_(capacity) {}
    // Queues the event; true when another had to be dropped for it.
    bool Push(QueuedEvent queued);
    // The next event to deliver; the queue must not be empty.
    QueuedEvent Take();
    bool Empty() const { return queue_.empty(); }
    std::size_t Size() const { return queue_.size(); }
    void Clear() { queue_.clear(); }

  private:
    std::size_t capacity_;
    std::deque<QueuedEvent> queue_;
};

// What an event is about: events about the same thing replace each other's news.
std::string EventSubject(const UnitEvent& event);

}  // namespace corvane3
