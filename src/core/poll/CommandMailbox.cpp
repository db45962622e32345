#include "core/poll/CommandMailbox.h"

#include <thread>

namespace corvane3 {

namespace {
// How often a waiting sender looks at the mailbox again.
constexpr std::chrono::milliseconds kSendRetryPeriod{10};
}  // namespace

bool CCommandMailbox::TrySend(const MailboxCommand& command) {
    int expected = kFree;
    if (!state_.compare_exchange_strong(expected, kFilling, std::memory_order_acquire)) {
        return false;
    }
    command_ = command;
    givenAt_ = std::chrono::steady_clock::now();
    state_.store(kPending, std::memory_order_release);
    return true;
}

bool CCommandMailbox::SendWaiting(const MailboxCommand& command,
                                  std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!TrySend(command)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(kSendRetryPeriod);
    }
    return true;
}

bool CCommandMailbox::TakePending(MailboxCommand& command) const {
    if (state_.load(std::memory_order_acquire) != kPending) {
        return false;
    }
    command = command_;
    return true;
}

void CCommandMailbox::Finish() {
    state_.store(kFree, std::memory_order_release);
}

bool CCommandMailbox::WithdrawIfOlderThan(std::chrono::steady_clock::duration limit) {
    if (state_.load(std::memory_order_acquire) != kPending ||
        std::chrono::steady_clock::now() - givenAt_ <= limit) {
        return false;
    }
    {
        std::lock_guard lock(withdrawnMutex_);
        lastWithdrawnCode_ = command_.code;
    }
    // Counted before the mailbox is freed: a sender that sees it free sees the count too.
    withdrawnCount_.fetch_add(1, std::memory_order_acq_rel);
    state_.store(kFree, std::memory_order_release);
    return true;
}

std::string CCommandMailbox::LastWithdrawnCode() const {
    std::lock_guard lock(withdrawnMutex_);
    return lastWithdrawnCode_;
}

}  // namespace corvane3
