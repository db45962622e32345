#include "gui/security/AuthorizedCommand.h"

#include <QMessageBox>
#include <QPointer>

#include "core/link/CommandFrame.h"
#include "core/program/TerminationSignals.h"
#include "gui/common/TimedMessageDlg.h"
#include "gui/security/AuthorizeDlg.h"

namespace corvane3 {

namespace {

// User-interface thread only, as everything here.
QPointer<QWidget>& LastSender() {
    static QPointer<QWidget> sender;
    return sender;
}
int waitingSenders = 0;

// Marks a sender waiting on its command for as long as it lives.
class CWaitingSender {
  public:
    CWaitingSender() { ++waitingSenders; }
    ~CWaitingSender() { --waitingSenders; }
    CWaitingSender(const CWaitingSender&) = delete;
    CWaitingSender& operator=(const CWaitingSender&) = delete;
};

}  // namespace

void NoteCommandSender(QWidget* sender) {
    LastSender() = sender;
}

QWidget* CommandSenderOr(QWidget* fallback) {
    QWidget* sender = LastSender();
    return sender != nullptr && sender->isVisible() ? sender : fallback;
}

bool IsSenderWaiting() {
    return waitingSenders > 0;
}

void ShowCommandWithdrawn(const std::string& code, QWidget* owner) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Unit Not Responding"),
                    QStringLiteral("The command %1 was not sent: the unit did not answer.")
                        .arg(QString::fromStdString(code)),
                    QMessageBox::Ok, owner);
    box.exec();
}

std::optional<std::uint32_t> ProtectedCommandParameter(const CPollingShared& shared,
                                                       const CUnitState& unit, QWidget* parent) {
    if (unit.InstrumentModel == kModelChronoBeam) {
        return kFactoryAccessOption;
    }
    if (!shared.SecurityStatus) {
        return 0;
    }
    CAuthorize prompt(parent);
    if (prompt.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return prompt.Password();
}

ECommandOutcome SendCheckedCommand(CPollingShared& shared, const MailboxCommand& command,
                                   const QString& notificationTitle, QWidget* parent,
                                   CommandWait wait) {
    CCommandMailbox& mailbox = shared.mailbox;
    if (mailbox.IsPending()) {
        return ECommandOutcome::kBusy;
    }
    // The thread writes the flag only while it serves a command, and the mailbox is free: clear
    // it now, so that a flag left set by an earlier command cannot make this one look accepted
    // when the thread has not come to it in time.
    mailbox.CommandAccepted = false;
    const std::uint32_t withdrawnBefore = mailbox.WithdrawnCount();
    if (!mailbox.TrySend(command)) {
        return ECommandOutcome::kBusy;
    }
    NoteCommandSender(parent);
    bool finished = false;
    {
        // Held over the message too: the notification of the withdrawal may come while it shows.
        const CWaitingSender waiting;
        const auto withdrawn = [&] { return mailbox.WithdrawnCount() != withdrawnBefore; };
        // A termination request ends the wait: the program's end is bounded, the reply not.
        finished = WaitWhile(
            [&] { return mailbox.IsPending() && !withdrawn() && !TerminationUnderway(); },
            wait.limit);
        if (withdrawn()) {
            ShowCommandWithdrawn(command.code, parent);
            return ECommandOutcome::kWithdrawn;
        }
    }
    if (mailbox.IsPending() && TerminationUnderway()) {
        return ECommandOutcome::kNotFinished;
    }
    if (!finished && wait.untilDone) {
        ShowNotification(
            QStringLiteral(
                "The instrument has not answered yet; the command may still be carried out"),
            notificationTitle, parent);
        return ECommandOutcome::kNotFinished;
    }
    if (shared.SecurityStatus && !mailbox.CommandAccepted) {
        ShowNotification(QStringLiteral("Password not Accepted"), notificationTitle, parent);
        return ECommandOutcome::kRefused;
    }
    mailbox.CommandAccepted = false;
    return ECommandOutcome::kDone;
}

bool ReplyCameWhole(const CPollingShared& shared, const QString& title, QWidget* parent) {
    const std::string reply = shared.CommandReply.Get();
    if (JudgeReply(reply) != EReplyVerdict::kUnanswered) {
        return true;
    }
    ShowNotification(
        reply.empty()
            ? QStringLiteral(
                  "The instrument did not answer the command; the change was not confirmed")
            : QStringLiteral("The instrument's reply was cut short; the change was not confirmed"),
        title, parent);
    return false;
}

ECommandOutcome SendProtectedCommand(CPollingShared& shared, const CUnitState& unit,
                                     MailboxCommand command, const QString& notificationTitle,
                                     QWidget* parent, CommandWait wait) {
    if (shared.mailbox.IsPending()) {
        return ECommandOutcome::kBusy;
    }
    const std::optional<std::uint32_t> parameter = ProtectedCommandParameter(shared, unit, parent);
    if (!parameter) {
        return ECommandOutcome::kCancelled;
    }
    command.parameter = *parameter;
    return SendCheckedCommand(shared, command, notificationTitle, parent, wait);
}

}  // namespace corvane3
