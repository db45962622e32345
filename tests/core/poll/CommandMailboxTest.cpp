#include "core/link/CommandCodes.h"
#include "core/poll/CommandMailbox.h"

#include <gtest/gtest.h>

#include <thread>

namespace corvane3 {
namespace {

TEST(CommandMailboxTest, ACommandInFlightIsNeverOverwritten) {
    CCommandMailbox mailbox;
    ASSERT_TRUE(mailbox.TrySend({.code = CommandCode(ECommand::kPpsSyncEnable),
                                 .data = "1",
                                 .parameter = 42,
                                 .replyLimit = 256,
                                 .notificationCode = 17}));
    EXPECT_TRUE(mailbox.IsPending());
    const MailboxCommand mute{.code = CommandCode(ECommand::kMute), .replyLimit = 256};
    EXPECT_FALSE(mailbox.TrySend(mute));
    EXPECT_FALSE(mailbox.SendWaiting(mute, std::chrono::milliseconds(30)));

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
    EXPECT_TRUE(mailbox.SendWaiting(mute, std::chrono::seconds(10)));
    thread.join();
    ASSERT_TRUE(mailbox.TakePending(taken));
    EXPECT_EQ(taken.code, "W12");
}

}  // namespace
}  // namespace corvane3
