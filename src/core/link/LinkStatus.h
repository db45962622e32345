#pragma once
// The Link status text: the latest link or progress line ("RS232 Open", "Unit Online", ...).
// Any thread may set it; setting it posts kNotifyLinkStatusChanged. Readers take a copy, and a
// later line may already have replaced the one a notification announced.

#include <mutex>
#include <string>

#include "core/link/Notification.h"

namespace corvane3 {

class CLinkStatus {
  public:
    // sink may be null (no one is told); it must outlive this object otherwise.
    explicit CLinkStatus(INotificationSink* sink = nullptr) : sink_(sink) {}

    void SetSink(INotificationSink* sink);
    // Stores text and posts kNotifyLinkStatusChanged. Thread-safe.
    void SetLinkStatus(const std::string& text);
    // A copy of the current text. Thread-safe.
    std::string Text() const;

  private:
    mutable std::mutex mutex_;
    std::string text_;
    INotificationSink* sink_;
};

}  // namespace corvane3
