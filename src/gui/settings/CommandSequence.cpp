#include "gui/settings/CommandSequence.h"

#include <QMessageBox>
#include <algorithm>

#include "core/link/CommandFrame.h"
#include "core/program/TerminationSignals.h"
#include "gui/security/AuthorizedCommand.h"

namespace corvane3 {

namespace {

EStepOutcome FromVerdict(EReplyVerdict verdict) {
    switch (verdict) {
        case EReplyVerdict::kAccepted:
            return EStepOutcome::kAccepted;
        case EReplyVerdict::kRefused:
            return EStepOutcome::kRefused;
        case EReplyVerdict::kNotUnderstood:
            return EStepOutcome::kNotUnderstood;
        case EReplyVerdict::kUnanswered:
            break;
    }
    return EStepOutcome::kUnanswered;
}

}  // namespace

bool SequenceResult::AllAccepted() const {
    // A run that sent nothing changed nothing.
    return !outcomes.empty() && std::all_of(outcomes.begin(), outcomes.end(), [](EStepOutcome o) {
        return o == EStepOutcome::kAccepted;
    });
}

SequenceResult SendCommandSequence(CPollingShared& shared,
                                   const std::vector<SequenceCommand>& commands,
                                   const QString& title, QWidget* parent) {
    SequenceResult result;
    result.outcomes.assign(commands.size(), EStepOutcome::kNotSent);
    bool told = false;
    std::size_t failed = commands.size();
    for (std::size_t i = 0; i < commands.size(); ++i) {
        WaitWhile([&] { return shared.mailbox.IsPending() && !TerminationUnderway(); },
                  kCommandWaitUntilDone.limit);
        // The program is ending: the rest of the run is not sent, and nobody is asked anything.
        if (TerminationUnderway()) {
            return result;
        }
        const ECommandOutcome outcome =
            SendCheckedCommand(shared, commands[i].command, title, parent, kCommandWaitUntilDone);
        EStepOutcome& step = result.outcomes[i];
        switch (outcome) {
            case ECommandOutcome::kDone:
                // The thread has finished the command and nobody else can have used the mailbox
                // since: the reply is this command's.
                step = FromVerdict(JudgeReply(shared.CommandReply.Get()));
                break;
            case ECommandOutcome::kRefused:
                step = EStepOutcome::kRefused;
                told = true;
                break;
            case ECommandOutcome::kNotFinished:
            case ECommandOutcome::kWithdrawn:
                step = EStepOutcome::kUnanswered;
                told = true;
                break;
            case ECommandOutcome::kBusy:
            case ECommandOutcome::kCancelled:
                break;
        }
        if (step != EStepOutcome::kAccepted) {
            failed = i;
            break;
        }
    }
    if (failed < commands.size() && !(told && failed == 0) && !TerminationUnderway()) {
        std::vector<std::string> names;
        for (const SequenceCommand& command : commands) {
            names.push_back(command.name);
        }
        QMessageBox box(QMessageBox::Warning, title,
                        QStringLiteral("Not every setting was modified.\n") +
                            QString::fromStdString(DescribeOutcomes(names, result.outcomes)),
                        QMessageBox::Ok, parent);
        box.exec();
    }
    return result;
}

}  // namespace corvane3
