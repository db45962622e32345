#include "core/link/LinkState.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "core/link/LinkStatus.h"

namespace corvane3 {
namespace {

// What the window shows and a headless run prints for each state, and what pages a person.
TEST(LinkStateTest, EachStateHasItsTextJournalPriorityAndKind) {
    constexpr ELinePriority kInfo = ELinePriority::kInfo;
    constexpr ELinePriority kWarning = ELinePriority::kWarning;
    const std::tuple<ELinkState, std::string, ELinePriority, bool> rows[] = {
        {ELinkState::kNone, "", kInfo, false},
        {ELinkState::kRs232Open, "RS232 Open", kInfo, false},
        {ELinkState::kRs232OpenFailed, "RS232 open failed", kWarning, false},
        {ELinkState::kRs232Configured, "RS232 Configured Ok", kInfo, false},
        {ELinkState::kRs232Reset, "RS232 Reset", kInfo, false},
        {ELinkState::kUnitOnline, "Unit Online", kInfo, false},
        {ELinkState::kUnitNotResponding, "Unit Not Responding", kWarning, false},
        {ELinkState::kResetting, "Resetting", kWarning, false},
        {ELinkState::kCommandSent, "Cmd Sent OK", kInfo, true},
        {ELinkState::kSendFailed, "Send Fail", kWarning, false},
        {ELinkState::kReceiveFailed, "Receive Fail", kWarning, false},
        {ELinkState::kResponseReceived, "Response Received", kInfo, true},
        {ELinkState::kPasswordOk, "Password OK", kInfo, true},
        {ELinkState::kPasswordFailed, "Password Fail", kWarning, false},
        {ELinkState::kWaitingForInstrument, "Waiting for instrument", kInfo, false},
        {ELinkState::kChangingPcLine, "Changing PC RS232", kInfo, false},
        {ELinkState::kPolling, "Polling", kInfo, true},
        {ELinkState::kPollDone, "Ready", kInfo, true},
        {ELinkState::kPollFailed, "Error", kWarning, false},
    };
    for (const auto& [state, text, priority, pollingStep] : rows) {
        SCOPED_TRACE(text);
        CLinkStatus status;
        status.SetLinkStatus(state);
        EXPECT_EQ(status.Text(), text);
        EXPECT_EQ(status.State(), state);
        EXPECT_EQ(LinkStateInfoOf(state).priority, priority);
        EXPECT_EQ(LinkStateInfoOf(state).pollingStep, pollingStep);
    }

    // The two states whose text carries more: the countdown and a step's own line.
    CLinkStatus status;
    status.SetCountdown(9);
    EXPECT_EQ(status.Text(), "Ready: 9");
    status.SetStepProgress("D1...OK");
    EXPECT_EQ(status.Text(), "D1...OK");
    EXPECT_EQ(status.State(), ELinkState::kStepProgress);
    for (const ELinkState state : {ELinkState::kCountdown, ELinkState::kStepProgress}) {
        EXPECT_EQ(LinkStateInfoOf(state).priority, kInfo);
        EXPECT_TRUE(LinkStateInfoOf(state).pollingStep);
    }
}

}  // namespace
}  // namespace corvane3
