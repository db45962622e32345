// Timed messages handed over from another thread reach the interface thread in order, and never
// appear on top of each other.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QThread>
#include <numeric>
#include <thread>
#include <vector>

#include "gui/common/QueuedNotificationSink.h"
#include "gui/common/QueuedTimedMessages.h"
#include "support/ModalDialogDriver.h"
#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

using Message = testing::ModalDialogDriver::Message;
using ::testing::ElementsAre;
using QueuedHandOverTest = testing::WidgetTest;

TEST_F(QueuedHandOverTest, MessagesFromAnotherThreadAppearInOrderNeverOnTopOfEachOther) {
    CQueuedTimedMessages messages;
    std::vector<bool> anotherWasOpen;
    QObject::connect(&messages, &CQueuedTimedMessages::Showing, [&] {
        anotherWasOpen.push_back(QApplication::activeModalWidget() != nullptr);
    });
    testing::ModalDialogDriver driver;
    std::thread sender([&] {
        messages.ShowTimedMessage("Password not Accepted", "Serial Port Settings");
        messages.ShowTimedMessage("Serial port settings NOT modified", "Serial Port Settings");
    });
    sender.join();
    ASSERT_TRUE(testing::ProcessEventsUntil([&] { return driver.Messages().size() == 2; }));
    EXPECT_THAT(driver.Messages(),
                ElementsAre(Message{"Serial Port Settings", "Password not Accepted"},
                            Message{"Serial Port Settings", "Serial port settings NOT modified"}));
    EXPECT_THAT(anotherWasOpen, ElementsAre(false, false));
}

// Codes posted from another thread arrive in order, on the thread the sink lives in.
TEST_F(QueuedHandOverTest, CodesFromAnotherThreadArriveInOrderOnTheOwnerThread) {
    CQueuedNotificationSink sink;
    std::vector<int> codes;
    bool elsewhere = false;
    QObject::connect(&sink, &CQueuedNotificationSink::Notified, [&](int code) {
        codes.push_back(code);
        elsewhere |= QThread::currentThread() != sink.thread();
    });
    std::thread([&] {
        for (int code = 1; code <= 100; ++code) {
            sink.PostNotification(code);
        }
    }).join();
    ASSERT_TRUE(testing::ProcessEventsUntil([&] { return codes.size() == 100; }));
    std::vector<int> expected(100);
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(codes, expected);
    EXPECT_FALSE(elsewhere);
}

}  // namespace
}  // namespace corvane3
