#include "core/poll/CommandMailbox.h"

#include <gtest/gtest.h>

#include <thread>

namespace corvane3 {
namespace {

TEST(CommandMailboxTest, ACommandInFlightIsNeverOverwritten) {
    CCommandMailbox mailbox;
    ASSERT_TRUE(mailbox.TrySend({"W22", "1", 42, 256, 17}));
    EXPECT_TRUE(mailbox.IsPending());
    EXPECT_FALSE(mailbox.TrySend({"W12", "", 0, 256, 0}));
    EXPECT_FALSE(mailbox.SendWaiting({"W12", "", 0, 256, 0}, std::chrono::milliseconds(30)));

    MailboxCommand taken;
    ASSERT_TRUE(mailbox.TakePending(taken));
    EXPECT_EQ(taken.code, "W22");
    EXPECT_EQ(taken.parameter, 42u);
    EXPECT_EQ(taken.notificationCode, 17);

    // A waiting sender gets in as soon as the thread is done with the first command.
    std::thread thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        mailbox.Finish();
    });
    EXPECT_TRUE(mailbox.SendWaiting({"W12", "", 0, 256, 0}, std::chrono::seconds(10)));
    thread.join();
    ASSERT_TRUE(mailbox.TakePending(taken));
    EXPECT_EQ(taken.code, "W12");
}

}  // namespace
}  // namespace corvane3
