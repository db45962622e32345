#pragma once
// Several settings commands sent one after another through the polling thread, each only once
// the one before has been answered, stopping at the first that does not go through; the user is
// told which went through and which did not. User-interface thread only; while it waits, user
// input is held back (see AuthorizedCommand.h).

#include <QString>
#include <string>
#include <vector>

#include "core/poll/CommandMailbox.h"
#include "core/poll/PollingShared.h"
#include "core/settings/SettingsEntries.h"

class QWidget;

namespace corvane3 {

struct SequenceCommand {
    std::string name;  // what the user knows the setting as, for the report
    MailboxCommand command;
};

struct SequenceResult {
    std::vector<EStepOutcome> outcomes;  // one per command
    // False when nothing was sent.
    bool AllAccepted() const;
};

// Sends commands in order. Before each it waits (bounded) for an earlier command still in the
// mailbox; each is then given the time kCommandWaitUntilDone allows and its reply judged with
// JudgeReply. The first command that is not accepted ends the sequence: the rest are not sent.
// When not all were accepted, a message titled title owned by parent lists the outcomes (left
// out when the first command failed and the user has already been told why, as with "Password
// not Accepted").
SequenceResult SendCommandSequence(CPollingShared& shared,
                                   const std::vector<SequenceCommand>& commands,
                                   const QString& title, QWidget* parent);

}  // namespace corvane3
