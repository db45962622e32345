#pragma once
// The states the Link status line reports, with one table giving each its text (as shown in
// the window and printed by a headless run), its journal priority and whether it is only the
// progress of a polling step. Code sets and compares states; the text is derived from here.

#include "core/base/LinePriority.h"

namespace corvane3 {

enum class ELinkState {
    kNone,  // nothing reported yet
    kRs232Open,
    kRs232OpenFailed,
    kRs232Configured,
    kRs232Reset,
    kUnitOnline,
    kUnitNotResponding,
    kResetting,
    kCommandSent,
    kSendFailed,
    kReceiveFailed,
    kResponseReceived,
    kPasswordOk,
    kPasswordFailed,
    kWaitingForInstrument,
    kChangingPcLine,
    kPolling,
    kPollDone,
    kPollFailed,
    kCountdown,     // the seconds to the next poll follow the text
    kStepProgress,  // a polling step begun or done ("D1...", "D1...OK"); the step gives the text
};

struct LinkStateInfo {
    const char* text;  // for kCountdown the prefix of the seconds; empty for kStepProgress
    ELinePriority priority;
    bool pollingStep;  // only the progress of a working link, not a change of its state
};

// The table row of state.
const LinkStateInfo& LinkStateInfoOf(ELinkState state);

}  // namespace corvane3
