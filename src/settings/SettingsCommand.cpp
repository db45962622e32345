#include "settings/SettingsCommand.h"

#include "link/CommandFrame.h"
#include "poll/ChangeLog.h"
#include "widgets/TimedMessageDlg.h"

namespace corvane3 {

bool SendConfirmedCommand(CPollingShared& shared, const CUnitState& unit, MailboxCommand command,
                          Authorisation authorisation, const QString& title, QWidget* parent) {
    const CommandOutcome outcome =
        authorisation == Authorisation::kProtected
            ? SendProtectedCommand(shared, unit, command, title, parent, kCommandWaitUntilDone)
            : SendCheckedCommand(shared, command, title, parent, kCommandWaitUntilDone);
    if (outcome == CommandOutcome::kBusy) {
        ShowNotification(
            QStringLiteral("Another command is still being sent to the instrument; nothing was "
                           "sent. Try again in a moment."),
            title, parent);
    }
    if (outcome != CommandOutcome::kDone) {
        return false;
    }
    // With security off the sequence does not look at the reply: a refusal mark there means
    // the unit did not take the command either.
    const std::string reply = shared.CommandReply.Get();
    if (reply.empty()) {
        ShowNotification(QStringLiteral("The instrument did not answer the command"), title,
                         parent);
        return false;
    }
    switch (JudgeReply(true, reply)) {
        case ChangeOutcome::kAccepted:
            return true;
        case ChangeOutcome::kNotUnderstood:
            ShowNotification(QStringLiteral("The instrument did not understand the command"), title,
                             parent);
            return false;
        default:
            ShowNotification(QStringLiteral("The instrument did not accept the command"), title,
                             parent);
            return false;
    }
}

}  // namespace corvane3
