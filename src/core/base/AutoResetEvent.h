#pragma once
// An event that wakes one waiter and then resets itself, like the stop event of the polling
// thread.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace corvane3 {

class CAutoResetEvent {
  public:
    void Set() {
        {
            std::lock_guard lock(mutex_);
            signalled_ = true;
        }
        condition_.notify_one();
    }
    // True when the event was set (it is reset again), false after the time-out.
    bool WaitFor(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        if (!condition_.wait_for(lock, timeout, [this] { return signalled_; })) {
            return false;
        }
        signalled_ = false;
        return true;
    }
    // True when the event is set; does not reset it.
    bool IsSet() const {
        std::lock_guard lock(mutex_);
        return signalled_;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable condition_;
    bool signalled_ = false;
};

}  // namespace corvane3
