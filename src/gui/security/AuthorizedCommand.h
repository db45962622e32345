#pragma once
// The authorise-send-check sequence of a protected command: choose the parameter (Factory
// access for a ChronoBeam, the user password when the unit's security is on, otherwise 0), hand
// the command to the polling thread, wait for it, and report a refused password.
//
// Everything here runs on the user-interface thread. While it waits, the event loop keeps
// running (windows repaint, notifications arrive) but user input is held back until the wait
// ends, so the waiting dialog cannot be used or closed half-way through a command.

#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/link/UnitState.h"
#include "core/poll/CommandMailbox.h"
#include "core/poll/PollingShared.h"
#include "gui/common/HeldInputWait.h"

class QWidget;

namespace corvane3 {

// How long a sender waits for the polling thread to finish its command.
struct CommandWait {
    std::chrono::milliseconds limit;
    // True: a command still unfinished at the limit is reported to the user as unfinished.
    // False: the sequence goes on as if the thread had finished.
    bool untilDone;
};

// Most senders look five times, 250 ms apart, and then go on: about one second in all.
inline constexpr CommandWait kBriefCommandWait{std::chrono::milliseconds(4 * 250), false};
// Senders that must know the command's outcome. Before the thread comes to the command it may
// be in the slowest exchange it makes (an event log read of up to 30 s); the command's own reply
// may take another 11 s (1 s plus 10 ms a character of a 1024-character limit).
inline constexpr CommandWait kCommandWaitUntilDone{std::chrono::seconds(45), true};

enum class ECommandOutcome {
    kBusy,         // another command was pending; nothing sent
    kCancelled,    // the password prompt was cancelled; nothing sent
    kRefused,      // security is on and the command was not accepted (refused, or unfinished)
    kNotFinished,  // waiting until done: the thread did not finish within the limit
    kWithdrawn,    // the thread gave the command up unsent (the unit did not answer); told
    kDone,
};

// The window that handed the mailbox its last command, for telling the user when that command
// is withdrawn unsent. Senders note themselves as they send.
void NoteCommandSender(QWidget* sender);
// The last sender while it is shown, else fallback.
QWidget* CommandSenderOr(QWidget* fallback);
// True while SendCheckedCommand waits on a command: it tells of a withdrawal itself.
bool IsSenderWaiting();
// Tells the user that the command code was withdrawn unsent: a message titled "Unit Not
// Responding" owned by owner.
void ShowCommandWithdrawn(const std::string& code, QWidget* owner);

// The parameter of a protected command: the Factory access option for a ChronoBeam (model 401)
// without asking; when the unit's security is on, the password entered in a CAuthorize prompt
// owned by parent (nullopt when it is cancelled); otherwise 0.
std::optional<std::uint32_t> ProtectedCommandParameter(const CPollingShared& shared,
                                                       const CUnitState& unit, QWidget* parent);

// Sends command with the parameter it carries and checks the outcome. kBusy when the mailbox is
// pending. Otherwise the command is queued and the thread given wait.limit to finish it. A
// command the thread withdraws unsent meanwhile ends the wait at once: the user is told
// (ShowCommandWithdrawn) and the result is kWithdrawn. With wait.untilDone, an unfinished
// command is reported in a timed message titled notificationTitle and gives kNotFinished. Then,
// when the unit's security is on and the command was not accepted, "Password not Accepted" is shown
// with notificationTitle: kRefused. Otherwise the Command accepted flag is cleared: kDone. Messages
// are owned by parent.
ECommandOutcome SendCheckedCommand(CPollingShared& shared, const MailboxCommand& command,
                                   const QString& notificationTitle, QWidget* parent,
                                   CommandWait wait = kBriefCommandWait);

// The whole sequence: nothing when the mailbox is pending (kBusy), then the parameter from
// ProtectedCommandParameter (kCancelled when the prompt is cancelled) in place of
// command.parameter, then SendCheckedCommand. A dialog that sends several protected commands in
// a row asks for the parameter once and calls SendCheckedCommand for each.
ECommandOutcome SendProtectedCommand(CPollingShared& shared, const CUnitState& unit,
                                     MailboxCommand command, const QString& notificationTitle,
                                     QWidget* parent, CommandWait wait = kBriefCommandWait);

// After a command the thread has finished (kDone): true when its whole reply came back. A reply
// that never came or was cut short before its ETX confirms nothing: the user is told in a timed
// message titled title (owned by parent) that the change was not confirmed, and it is false.
bool ReplyCameWhole(const CPollingShared& shared, const QString& title, QWidget* parent);

}  // namespace corvane3
