#pragma once
// The hand-over of one user command to the polling thread.
//
// A sender claims the mailbox, fills it and marks it pending; the thread sends the command,
// reads the reply into the Response buffer, sets CommandAccepted and frees the mailbox. A
// command in flight is never overwritten: a sender that finds the mailbox busy is refused.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

namespace corvane3 {

struct MailboxCommand {
    std::string code{};           // three characters, CommandCode(...)
    std::string data{};           // empty for commands without input
    std::uint32_t parameter = 0;  // 0, a password 1..99999, or the Factory access option
    std::int32_t replyLimit = 256;
    std::int32_t notificationCode = 0;  // posted when the reply has arrived; 0 posts nothing
};

// A command the polling thread could not send within this time of being given is withdrawn: the
// unit is not answering, and a command fired much later, unseen, would surprise the user.
inline constexpr std::chrono::seconds kCommandSendLimit{10};

class CCommandMailbox {
  public:
    // Places command when the mailbox is free. False (nothing changes) while one is pending.
    bool TrySend(const MailboxCommand& command);
    // As TrySend, but waits up to timeout for the pending command to finish first.
    bool SendWaiting(const MailboxCommand& command, std::chrono::milliseconds timeout);
    // True while a command waits to be sent or is being sent.
    bool IsPending() const { return state_.load(std::memory_order_acquire) != kFree; }

    // Polling thread: the pending command, if there is one.
    bool TakePending(MailboxCommand& command) const;
    // Polling thread: the command is done; the mailbox is free again.
    void Finish();

    // Polling thread, while it cannot send: withdraws the pending command when it was given more
    // than limit ago, counts it and keeps its code. True when one was withdrawn.
    bool WithdrawIfOlderThan(std::chrono::steady_clock::duration limit);
    // How many commands were withdrawn so far; a sender compares the count before and after.
    std::uint32_t WithdrawnCount() const { return withdrawnCount_.load(std::memory_order_acquire); }
    // The code of the last command withdrawn ("" when none was).
    std::string LastWithdrawnCode() const;

    // 1 when the last command's reply carried no refusal mark.
    std::atomic<bool> CommandAccepted{false};

  private:
    enum EState : int { kFree, kFilling, kPending };
    std::atomic<int> state_{kFree};
    MailboxCommand command_;  // written only in kFilling, read only in kPending
    std::chrono::steady_clock::time_point givenAt_;  // as command_
    std::atomic<std::uint32_t> withdrawnCount_{0};
    mutable std::mutex withdrawnMutex_;
    std::string lastWithdrawnCode_;
};

}  // namespace corvane3
