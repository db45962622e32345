#include "mainwin/QueuedNotificationSink.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <thread>
#include <vector>

namespace corvane3 {
namespace {

TEST(QueuedNotificationSinkTest, CodesPostedFromAnotherThreadArriveInOrderOnTheOwnerThread) {
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);

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
