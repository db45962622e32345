#include "gui/settings/CommandSequence.h"

#include <QMessageBox>
#include <algorithm>

#include "core/link/CommandFrame.h"
#include "gui/security/AuthorizedCommand.h"

namespace corvane3 {

namespace {

StepOutcome FromVerdict(ReplyVerdict verdict) {
    switch (verdict) {
        case ReplyVerdict::kAccepted:
            return StepOutcome::kAccepted;
        case ReplyVerdict::kRefused:
            return StepOutcome::kRefused;
        case ReplyVerdict::kNotUnderstood:
            return StepOutcome::kNotUnderstood;
        case ReplyVerdict::kUnanswered:
            break;
    }
    return StepOutcome::kUnanswered;
}

}  // namespace

bool SequenceResult::AllAccepted() const {
    // A run that sent nothing changed nothing.
    return !outcomes.empty() && std::all_of(outcomes.begin(), outcomes.end(), [](StepOutcome o) {
        return o == StepOutcome::kAccepted;
    });
}

SequenceResult SendCommandSequence(CPollingShared& shared,
                                   const std::vector<SequenceCommand>& commands,
                                   const QString& title, QWidget* parent) {
    SequenceResult result;
    result.outcomes.assign(commands.size(), StepOutcome::kNotSent);
    bool told = false;
    std::size_t failed = commands.size();
    for (std::size_t i = 0; i < commands.size(); ++i) {
        WaitWhile([&] { return shared.mailbox.IsPending(); }, kCommandWaitUntilDone.limit);
        const CommandOutcome outcome =
            SendCheckedCommand(shared, commands[i].command, title, parent, kCommandWaitUntilDone);
        StepOutcome& step = result.outcomes[i];
        switch (outcome) {
            case CommandOutcome::kDone:
                // The thread has finished the command and nobody else can have used the mailbox
                // since: the reply is this command's.
                step = FromVerdict(JudgeReply(shared.CommandReply.Get()));
                break;
            case CommandOutcome::kRefused:
                step = StepOutcome::kRefused;
                told = true;
                break;
            case CommandOutcome::kNotFinished:
            case CommandOutcome::kWithdrawn:
                step = StepOutcome::kUnanswered;
                told = true;
                break;
            case CommandOutcome::kBusy:
            case CommandOutcome::kCancelled:
                break;
        }
        if (step != StepOutcome::kAccepted) {
            failed = i;
            break;
        }
    }
    if (failed < commands.size() && !(told && failed == 0)) {
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
