// The main window with the polling thread against the simulated instrument.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>

#include "mainwin/MainStatusDlg.h"
#include "mainwin/QueuedNotificationSink.h"
#include "poll/PollingThread.h"
#include "sim/SimulatorServer.h"
#include "support/ProcessEvents.h"
#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

using namespace std::chrono_literals;

using testing::ProcessEventsUntil;

using MainWindowWithSimTest = testing::WidgetTest;

TEST_F(MainWindowWithSimTest, TheWindowShowsTheSimulatedUnit) {
    sim::SimulatorOptions options;
    options.instrument.model = 401;
    options.instrument.serial = 4321;
    options.instrument.warmup = 0ms;
    sim::CSimulatorServer sim(options);
    ASSERT_TRUE(sim.IsOpen()) << sim.Error();

    Corvane3App app;
    app.serialPort.SetSettings({sim.SlavePath(), 9600, kParityOdd, kStopBitsTwo, 7});
    CQueuedNotificationSink notifications;
    app.linkStatus.SetSink(&notifications);
    {
        CPollingThread polling(app.serialPort, app.unitState, app.linkStatus, app.polling,
                               app.settings, notifications);
        CMainStatusDlg window(app, notifications, &polling);
        window.show();
        const QString expected = QStringLiteral(" Model ChronoBeam/QRT-60 SN 4321 on ") +
                                 QString::fromStdString(sim.SlavePath());
        EXPECT_TRUE(ProcessEventsUntil([&] { return window.windowTitle() == expected; }))
            << window.windowTitle().toStdString();
        EXPECT_EQ(window.findChild<QLabel*>("valueVersion")->text(), "C 21");
        EXPECT_EQ(window.StatusPane(2)->text(), "Operating");
        EXPECT_TRUE(polling.StopBackgroundThread());
    }
    app.linkStatus.SetSink(nullptr);
}

}  // namespace
}  // namespace corvane3
