#include "mainwin/QueuedNotificationSink.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <thread>
#include <vector>

#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

using QueuedNotificationSinkTest = testing::WidgetTest;

TEST_F(QueuedNotificationSinkTest, CodesPostedFromAnotherThreadArriveInOrderOnTheOwnerThread) {
    CQueuedNotificationSink sink;
    std::vector<int> received;
    bool allOnOwnerThread = true;
    QObject::connect(&sink, &CQueuedNotificationSink::Notified, [&](int code) {
        allOnOwnerThread = allOnOwnerThread && QThread::currentThread() == sink.thread();
        received.push_back(code);
    });

    std::thread poller([&] {
        for (int code : {kNotifyLinkStatusChanged, kNotifyStatusRecord, kNotifySweepProgress}) {
            sink.PostNotification(code);
        }
    });
    poller.join();
    EXPECT_TRUE(received.empty());  // nothing is delivered outside the event loop

    QElapsedTimer timer;
    timer.start();
    while (received.size() < 3 && timer.elapsed() < 5000) {
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(received, (std::vector<int>{kNotifyLinkStatusChanged, kNotifyStatusRecord,
                                          kNotifySweepProgress}));
    EXPECT_TRUE(allOnOwnerThread);
}

}  // namespace
}  // namespace corvane3
