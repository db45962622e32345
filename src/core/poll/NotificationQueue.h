#pragma once
// A notification sink for a program without an event loop: codes posted from any thread are
// queued and taken out, in order, by the thread that waits on the queue.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "core/link/Notification.h"

namespace corvane3 {

class CNotificationQueue : public INotificationSink {
  public:
    void PostNotification(int code) override {
        {
            std::lock_guard lock(mutex_);
            codes_.push_back(code);
        }
        condition_.notify_one();
    }
    // The oldest code, or nothing when none arrived within timeout.
    std::optional<int> Take(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        if (!condition_.wait_for(lock, timeout, [this] { return !codes_.empty(); })) {
            return std::nullopt;
        }
        const int code = codes_.front();
        codes_.pop_front();
        return code;
    }

  private:
    std::mutex mutex_;
    std::condition_variable condition_;
    std::deque<int> codes_;
};

}  // namespace corvane3
