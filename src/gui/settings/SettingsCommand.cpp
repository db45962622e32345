#include "gui/settings/SettingsCommand.h"

#include "core/link/CommandFrame.h"
#include "gui/common/TimedMessageDlg.h"

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
    // the unit did not take the command either. The change log judges the same reply alike.
    if (!ReplyCameWhole(shared, title, parent)) {
        return false;
    }
    switch (JudgeReply(shared.CommandReply.Get())) {
        case ReplyVerdict::kAccepted:
            return true;
        case ReplyVerdict::kUnanswered:  // told by ReplyCameWhole
            return false;
        case ReplyVerdict::kNotUnderstood:
            ShowNotification(QStringLiteral("The instrument did not understand the command"), title,
                             parent);
            return false;
        case ReplyVerdict::kRefused:
            break;
    }
    ShowNotification(QStringLiteral("The instrument did not accept the command"), title, parent);
    return false;
}

}  // namespace corvane3
