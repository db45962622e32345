#pragma once
// A logging service as the link of an attached window sees it: it logs every call, in order,
// as one line ("relay C05 1 etx", "closing A02 A05", "hold", "release"), answers each exchange
// with an accepted reply of its code and may refuse to hold the polls.

#include <string>
#include <vector>

#include "core/link/CommandFrame.h"
#include "core/link/TolvexLink.h"
#include "support/RecordingSink.h"

namespace corvane3::testing {

class ScriptedRelay : public IExchangeRelay, public WaitableLog<std::string> {
  public:
    RelayedReply Relay(const RelayedCommand& command) override {
        const char* end = command.terminator == 0 ? "none" : command.terminator == kLf ? "lf" : "etx";
        Add("relay " + command.code + " " + command.data + " " + end + " " +
            std::to_string(command.parameter) + " " + std::to_string(command.limit));
        if (command.terminator == 0) {
            return {true, true, ""};
        }
        return {true, true, "\x02" + command.code + " 00000\x03"};
    }
    bool RegisterClosing(const std::vector<RelayedCommand>& commands, std::string&) override {
        std::string line = "closing";
        for (const RelayedCommand& command : commands) {
            line += " " + command.code + " " + command.data;
        }
        Add(line);
        return true;
    }
    bool HoldPolls(bool hold, std::string& problem) override {
        Add(hold ? "hold" : "release");
        problem = refusal;
        return refusal.empty();
    }

    std::string refusal;  // when set, HoldPolls refuses with it
};

}  // namespace corvane3::testing
