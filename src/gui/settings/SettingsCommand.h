#pragma once
// How the instrument settings dialogs send a change and learn its outcome: through the mailbox
// and the authorise-send-check sequence, waiting (bounded, user input held back) until the
// polling thread has the instrument's reply. A change counts as done only when the unit
// answered without the refusal mark; every other ending is told to the user. User-interface
// thread only.

#include <QString>

#include "gui/security/AuthorizedCommand.h"

namespace corvane3 {

enum class EAuthorisation {
    kNone,       // sent with the parameter the command carries
    kProtected,  // parameter from ProtectedCommandParameter (Factory access, password prompt)
};

// Sends command and waits until the thread has finished it (kCommandWaitUntilDone). Messages
// (titled title, owned by parent): another command pending, a refused password, no answer in
// time, a command withdrawn, no reply, a reply with the refusal mark, or a reply saying the
// command was not understood. True only when the instrument accepted the command.
bool SendConfirmedCommand(CPollingShared& shared, const CUnitState& unit, MailboxCommand command,
                          EAuthorisation authorisation, const QString& title, QWidget* parent);

}  // namespace corvane3
