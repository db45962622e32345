#pragma once
// A notification sink that remembers what was posted, for tests.

#include <mutex>
#include <vector>

#include <string>

#include "link/LinkStatus.h"
#include "link/Notification.h"

namespace corvane3::testing {

class RecordingSink : public INotificationSink {
public:
    void PostNotification(int code) override {
        std::lock_guard lock(mutex_);
        codes_.push_back(code);
    }
    std::vector<int> Codes() const {
        std::lock_guard lock(mutex_);
        return codes_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<int> codes_;
};

// Link status lines in the order they were set.
class StatusLog : public INotificationSink {
public:
    explicit StatusLog(CLinkStatus& status) : status_(status) { status_.SetSink(this); }
    ~StatusLog() override { status_.SetSink(nullptr); }
    void PostNotification(int) override {
        std::lock_guard lock(mutex_);
        lines_.push_back(status_.Text());
    }
    std::vector<std::string> Lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

private:
    CLinkStatus& status_;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace corvane3::testing
