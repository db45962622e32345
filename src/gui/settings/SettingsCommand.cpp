#include "gui/settings/SettingsCommand.h"

#include "core/link/CommandFrame.h"
#include "gui/common/TimedMessageDlg.h"

namespace corvane3 {

bool SendConfirmedCommand(CPollingShared& shared, const CUnitState& unit, MailboxCommand command,
                          EAuthorisation authorisation, const QString& title, QWidget* parent) {
    const ECommandOutcome outcome =
        authorisation == EAuthorisation::kProtected
            ? SendProtectedCommand(shared, unit, command, title, parent, kCommandWaitUntilDone)
            : SendCheckedCommand(shared, command, title, parent, kCommandWaitUntilDone);
    if (outcome == ECommandOutcome::kBusy) {
        ShowNotification(
            QStringLiteral("Another command is still being sent to the instrument; nothing was "
                           "sent. Try again in a moment."),
            title, parent);
    }
    if (outcome != ECommandOutcome::kDone) {
        return false;
    }
    // With security off the sequence does not look at the reply: a refusal mark there means
    // the unit did not take the command either. The change log judges the same reply alike.
    if (!ReplyCameWhole(shared, title, parent)) {
        return false;
    }
    switch (JudgeReply(shared.CommandReply.Get())) {
        case EReplyVerdict::kAccepted:
            return true;
        case EReplyVerdict::kUnanswered:  // told by ReplyCameWhole
            return false;
        case EReplyVerdict::kNotUnderstood:
            ShowNotification(QStringLiteral("The instrument did not understand the command"), title,
                             parent);
            return false;
        case EReplyVerdict::kRefused:
            break;
    }
    ShowNotification(QStringLiteral("The instrument did not accept the command"), title, parent);
    return false;
}

}  // namespace corvane3
