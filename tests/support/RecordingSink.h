#pragma once
// Notification sinks that remember what was posted, and let a test wait for what it expects.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "core/link/LinkStatus.h"
#include "core/link/Notification.h"

namespace corvane3 {
// A failing expectation names the state by its text.
inline void PrintTo(ELinkState state, std::ostream* os) {
    *os << '"' << LinkStateInfoOf(state).text << '"';
}
}  // namespace corvane3

namespace corvane3::testing {

// Records items and wakes waiters whenever one arrives.
template <typename Item>
class WaitableLog {
  public:
    void Add(Item item) {
        {
            std::lock_guard lock(mutex_);
            items_.push_back(std::move(item));
        }
        changed_.notify_all();
    }
    std::vector<Item> Items() const {
        std::lock_guard lock(mutex_);
        return items_;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        items_.clear();
    }
    // Waits until done(items) is true or timeout passes; returns done's last answer.
    bool WaitUntil(const std::function<bool(const std::vector<Item>&)>& done,
                   std::chrono::milliseconds timeout = std::chrono::seconds(30)) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return done(items_); });
    }
    // Waits until item has been recorded count times.
    bool WaitForCount(const Item& item, std::size_t count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(30)) const {
        return WaitUntil(
            [&](const std::vector<Item>& items) {
                return static_cast<std::size_t>(std::count(items.begin(), items.end(), item)) >=
                       count;
            },
            timeout);
    }

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Item> items_;
};

class RecordingSink : public INotificationSink, public WaitableLog<int> {
  public:
    void PostNotification(int code) override { Add(code); }
    std::vector<int> Codes() const { return Items(); }
};

// Link states in the order they were set.
class StatusLog : public INotificationSink, public WaitableLog<ELinkState> {
  public:
    explicit StatusLog(CLinkStatus& status) : status_(status) { status_.SetSink(this); }
    ~StatusLog() override { status_.SetSink(nullptr); }
    void PostNotification(int) override {
        const LinkStatusLine line = status_.Line();
        texts_.Add(line.text);
        Add(line.state);
    }
    std::vector<ELinkState> Lines() const { return Items(); }
    void Clear() {
        WaitableLog::Clear();
        texts_.Clear();
    }
    // For the lines a state does not tell apart (a polling step's "D1...OK").
    const WaitableLog<std::string>& Texts() const { return texts_; }

  private:
    CLinkStatus& status_;
    WaitableLog<std::string> texts_;
};

}  // namespace corvane3::testing
