#pragma once
// The Link status: the latest link state or progress line ("RS232 Open", "Unit Online", ...).
// Any thread may set it; setting it posts kNotifyLinkStatusChanged. Readers take a copy, and a
// later line may already have replaced the one a notification announced.

#include <mutex>
#include <string>

#include "core/link/LinkState.h"
#include "core/link/Notification.h"

namespace corvane3 {

// A state with the text it shows.
struct LinkStatusLine {
    ELinkState state = ELinkState::kNone;
    std::string text;
};

class CLinkStatus {
  public:
    // sink may be null (no one is told); it must outlive this object otherwise.
    explicit CLinkStatus(INotificationSink* sink = nullptr) : sink_(sink) {}

    void SetSink(INotificationSink* sink);
    // Each stores the state with its text and posts kNotifyLinkStatusChanged. Thread-safe.
    // state is neither kCountdown nor kStepProgress, which carry more than their state.
    void SetLinkStatus(ELinkState state);
    // The state's text followed by ": " and detail (the port and why, for a network port).
    void SetLinkStatus(ELinkState state, const std::string& detail);
    void SetCountdown(long long secondsLeft);
    void SetStepProgress(const std::string& line);
    // A line as another program's link reported it (the logging service's, to an attached
    // window), its text kept as given.
    void SetRelayedLine(ELinkState state, std::string text) { Set(state, std::move(text)); }
    // A copy of the current state and text. Thread-safe.
    LinkStatusLine Line() const;
    std::string Text() const { return Line().text; }
    ELinkState State() const { return Line().state; }

  private:
    void Set(ELinkState state, std::string text);

    mutable std::mutex mutex_;
    LinkStatusLine line_;
    INotificationSink* sink_;
};

}  // namespace corvane3
