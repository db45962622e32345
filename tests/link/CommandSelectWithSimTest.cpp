// A catalogue command picked in the dialog travels through the polling thread to the simulated
// instrument, and its reply comes back into the dialog's list.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <functional>

#include "link/CommandFrame.h"
#include "link/CommandSelectDlg.h"
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

QStringList Lines(const QListWidget* list) {
    QStringList lines;
    for (int row = 0; row < list->count(); ++row) {
        lines << list->item(row)->text();
    }
    return lines;
}

using CommandSelectWithSimTest = testing::WidgetTest;

TEST_F(CommandSelectWithSimTest, AFrequencyOffsetSentFromTheListIsAnsweredInTheList) {
    sim::SimulatorOptions options;
    options.instrument.model = kModelChronoBeam;
    options.instrument.warmup = 0ms;
    sim::CSimulatorServer sim(options);
    ASSERT_TRUE(sim.IsOpen()) << sim.Error();

    Corvane3App app;
    // Polls keep running meanwhile; their replies must not show up in the list.
    app.settings.PollingInterval = kMinPollingInterval;
    app.serialPort.SetSettings({sim.SlavePath(), 9600, kParityOdd, kStopBitsTwo, 7});
    CQueuedNotificationSink notifications;
    app.linkStatus.SetSink(&notifications);
    QStringList lines;
    {
        CPollingThread polling(app.serialPort, app.unitState, app.linkStatus, app.polling,
                               app.settings, notifications);
        CMainStatusDlg window(app, notifications, &polling);
        window.show();
        // The parameter follows the identified model, so send once the unit is known.
        ASSERT_TRUE(ProcessEventsUntil([&] { return app.unitState.InstrumentModel == 401; }));

        auto* dialog = window.findChild<CCommandSelectDlg*>();
        ASSERT_NE(dialog, nullptr);
        QMetaObject::invokeMethod(
            dialog,
            [&] {
                auto* commands = dialog->findChild<QComboBox*>("commandList");
                commands->setCurrentIndex(commands->findText("Set User Frequency Offset"));
                dialog->findChild<QLineEdit*>("commandInput")->setText("+000123");
                dialog->findChild<QPushButton*>("sendCommand")->click();
                auto* list = dialog->findChild<QListWidget*>("replyList");
                ProcessEventsUntil([&] { return list->count() >= 2; });
                lines = Lines(list);
                dialog->accept();
            },
            Qt::QueuedConnection);
        window.RunCommand(kCmdSelectCommand);
        EXPECT_TRUE(polling.StopBackgroundThread());
    }
    app.linkStatus.SetSink(nullptr);

    ASSERT_GE(lines.size(), 2) << lines.join('|').toStdString();
    EXPECT_EQ(lines[0].toStdString(), "W01 00000 +000123");
    // The unit echoes the Factory access field; the list shows zeros in its place.
    EXPECT_EQ(lines[1].toStdString(), "W01 00000 OK");
    const auto frame = sim.WaitForFrame("W01", 0ms);
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->parameter, FactoryAccessField());
    EXPECT_EQ(frame->data, "+000123");
}

}  // namespace
}  // namespace corvane3
