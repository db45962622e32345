#include "core/link/LinkState.h"

#include <array>
#include <cstddef>

namespace corvane3 {

namespace {
constexpr ELinePriority kInfo = ELinePriority::kInfo;
// A link that does not work needs a person: those lines are warnings in the journal.
constexpr ELinePriority kWarning = ELinePriority::kWarning;

struct Row {
    ELinkState state;
    LinkStateInfo info;
};

constexpr Row kRows[] = {
    {ELinkState::kNone, {"", kInfo, false}},
    {ELinkState::kRs232Open, {"RS232 Open", kInfo, false}},
    {ELinkState::kRs232OpenFailed, {"RS232 open failed", kWarning, false}},
    {ELinkState::kRs232Configured, {"RS232 Configured Ok", kInfo, false}},
    {ELinkState::kRs232Reset, {"RS232 Reset", kInfo, false}},
    {ELinkState::kUnitOnline, {"Unit Online", kInfo, false}},
    {ELinkState::kUnitNotResponding, {"Unit Not Responding", kWarning, false}},
    {ELinkState::kResetting, {"Resetting", kWarning, false}},
    {ELinkState::kCommandSent, {"Cmd Sent OK", kInfo, true}},
    {ELinkState::kSendFailed, {"Send Fail", kWarning, false}},
    {ELinkState::kReceiveFailed, {"Receive Fail", kWarning, false}},
    {ELinkState::kResponseReceived, {"Response Received", kInfo, true}},
    {ELinkState::kPasswordOk, {"Password OK", kInfo, true}},
    {ELinkState::kPasswordFailed, {"Password Fail", kWarning, false}},
    {ELinkState::kWaitingForInstrument, {"Waiting for instrument", kInfo, false}},
    {ELinkState::kChangingPcLine, {"Changing PC RS232", kInfo, false}},
    {ELinkState::kPolling, {"Polling", kInfo, true}},
    {ELinkState::kPollDone, {"Ready", kInfo, true}},
    {ELinkState::kPollFailed, {"Error", kWarning, false}},
    {ELinkState::kCountdown, {"Ready: ", kInfo, true}},
    {ELinkState::kStepProgress, {"", kInfo, true}},
};
constexpr std::size_t kStateCount = static_cast<std::size_t>(ELinkState::kStepProgress) + 1;
static_assert(std::size(kRows) == kStateCount, "one row per link state");

constexpr bool RowsInEnumOrder() {
    for (std::size_t i = 0; i < std::size(kRows); ++i) {
        if (static_cast<std::size_t>(kRows[i].state) != i) {
            return false;
        }
    }
    return true;
}
static_assert(RowsInEnumOrder(), "the rows follow the enum, so a state indexes its row");
}  // namespace

const LinkStateInfo& LinkStateInfoOf(ELinkState state) {
    return kRows[static_cast<std::size_t>(state)].info;
}

}  // namespace corvane3
