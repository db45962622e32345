#pragma once
// Short self-closing messages the polling thread wants the user to see. The GUI shows them on
// its own thread, one after another; the polling thread never waits for them.

#include <string>

namespace corvane3 {

class ITimedMessageSink {
  public:
    virtual ~ITimedMessageSink() = default;
    // May be called from any thread; must not block.
    virtual void ShowTimedMessage(const std::string& text, const std::string& title) = 0;
};

}  // namespace corvane3
