// The main window with the polling thread against the simulated instrument: the command list,
// the traffic trace, the records written behind a message box, a port another run holds, and
// the live plot window gaining one point per status record as the file gains one line.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <set>
#include <thread>

#include "gui/mainwin/MainStatusDlg.h"
#include "gui/mainwin/TraceCommand.h"
#include "gui/plot/PlotDlg.h"
#include "gui/plot/TracePlot.h"
#include "gui/serial/CommandSelectDlg.h"
#include "support/AttachedWindowRig.h"
#include "support/DialogControls.h"
#include "support/ModalDialogDriver.h"
#include "support/SimFrames.h"
#include "support/SimWindowRig.h"
#include "support/TelemetryTestData.h"
#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

using testing::ProcessEventsUntil;

using MainWindowWithSimTest = testing::WidgetTest;
using PlotWithSimTest = testing::WidgetTest;

TEST_F(MainWindowWithSimTest, TheCommandListAndTheTraceWorkWithTheSimulatedUnit) {
    sim::SimulatorOptions options = testing::ModelOptions(kModelChronoBeam);
    options.instrument.serial = 4321;
    // Polls keep running meanwhile; their replies must not show up in the command list.
    testing::SimWindowRig rig(options);
    ASSERT_TRUE(rig.online);
    CMainStatusDlg& window = *rig.window;
    window.show();

    QStringList lines;
    auto* dialog = window.findChild<CCommandSelectDlg*>();
    ASSERT_NE(dialog, nullptr);
    QMetaObject::invokeMethod(
        dialog,
        [&] {
            testing::Choose(*dialog, "commandList", "Set User Frequency Offset");
            testing::Find<QLineEdit>(*dialog, "commandInput")->setText("+000123");
            testing::Click(*dialog, "sendCommand");
            ProcessEventsUntil([&] { return testing::Lines(*dialog, "replyList").size() >= 2; });
            lines = testing::Lines(*dialog, "replyList");
            dialog->accept();
        },
        Qt::QueuedConnection);
    window.RunCommand(kCmdSelectCommand);

    ASSERT_GE(lines.size(), 2) << lines.join('|').toStdString();
    EXPECT_EQ(lines[0], "W01 00000 +000123");
    // The unit echoes the Factory access field; the list shows zeros in its place.
    EXPECT_EQ(lines[1], "W01 00000 OK");

    // "File Trace" records the traffic until it is chosen again.
    const std::filesystem::path trace = rig.data.Path() / "unit.trace";
    QAction* item = window.Menus().Action(kCmdTrace);
    window.Trace().SetChooser(
        [&](QWidget*, const QString&) { return QString::fromStdString(trace.string()); });
    window.RunCommand(kCmdTrace);
    EXPECT_TRUE(item->isChecked());
    // A status record asked for and read.
    EXPECT_TRUE(ProcessEventsUntil([&] {
        const std::string traced = testing::FileText(trace);
        const std::size_t asked = traced.find("RX \\x02D*1 00000 \\x03");
        return asked != std::string::npos &&
               traced.find("TX \\x02D*1 04321 ", asked) != std::string::npos;
    }));
    window.RunCommand(kCmdTrace);
    EXPECT_FALSE(item->isChecked());
    const std::string traced = testing::FileText(trace);
    // Nothing is added once the trace is stopped.
    EXPECT_TRUE(rig.polling->StopBackgroundThread());
    EXPECT_EQ(testing::FileText(trace), traced);
}

// Neither a modal box (a scan's end, a sync) nor the window's thread held up for three polls
// stops the polls or the records: each poll is recorded once, with its own values.
TEST_F(MainWindowWithSimTest, AMissingDataFolderIsMadeAndEachPollIsRecordedBehindABoxOrADelay) {
    testing::SimWindowRig rig(testing::ModelOptions(kModelTq9000));
    ASSERT_TRUE(rig.online);
    const std::filesystem::path file = rig.data.Path() / "missing" / "records" / "Unit1234.csd";
    const auto lines = [&] { return testing::CsdLines(file).size(); };
    const auto polls = [&] { return testing::SentFields(rig.Sim(), "D*1").size(); };
    {
        // Nothing the recorder shows may wait for an answer: were it to, it is closed here.
        testing::ModalDialogDriver driver([](QDialog& dialog) { dialog.reject(); });
        rig.app.settings.DatafileDirectory = file.parent_path().string();
        rig.app.settings.RecordDataFile = true;
        ASSERT_TRUE(ProcessEventsUntil([&] { return lines() >= 2; }));
        EXPECT_TRUE(testing::CsdLines(file)[0].starts_with("MJD, ID"));
        EXPECT_TRUE(driver.Messages().empty());
        EXPECT_EQ(driver.Dialogs(), 0);
    }

    std::size_t pollsBefore = polls();
    std::size_t linesBefore = lines();
    QMessageBox box(QMessageBox::Information, "Scan Status", "Cesium instrument located...",
                    QMessageBox::Ok, rig.window.get());
    bool wentOn = false;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (polls() >= pollsBefore + 2 && lines() >= linesBefore + 2) {
            wentOn = true;
            box.accept();
        }
    });
    look.start(20);
    // Only a safety net: the box closes as soon as two more records are in the file.
    QTimer::singleShot(60000, &box, &QMessageBox::reject);
    box.exec();
    EXPECT_TRUE(wentOn) << polls() - pollsBefore << " polls, " << lines() - linesBefore << " lines";

    // The fourth poll's first frame means the three before it are done and posted.
    pollsBefore = polls();
    linesBefore = lines();
    for (int waited = 0; polls() < pollsBefore + 4 && waited < 60000; waited += 10) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(ProcessEventsUntil([&] { return lines() >= linesBefore + 3; }));
    // The simulated readings change from poll to poll (the MJD only by whole seconds): three
    // polls give three different lines, one poll written three times gives one.
    const std::vector<std::string> records = testing::CsdLines(file);
    const std::set<std::string> different(records.begin() + linesBefore,
                                          records.begin() + linesBefore + 3);
    EXPECT_EQ(different.size(), 3u) << records[linesBefore] << "\n" << records[linesBefore + 1];
}

// A headless run (the logging service) has the unit's port: the window says which process has
// it, beside the link's own text for a unit that does not answer, and takes the unit over once
// that run ends.
TEST_F(MainWindowWithSimTest, APortAnotherRunHoldsNamesThatRunAndIsTakenOverWhenItEnds) {
    testing::LoggingService service(testing::ModelOptions(kModelTq9000));
    ASSERT_TRUE(service.Started()) << service.Run().Err();
    const std::string port = (service.Dir() / "unit").string();
    testing::PortWindow own(port);
    const auto pane = [&](int i) { return own.window->StatusPane(i)->text().toStdString(); };
    const std::string held =
        port + ": in use by process " + std::to_string(service.Run().Pid()) + " (corvane3)";
    EXPECT_TRUE(ProcessEventsUntil([&] {
        return pane(1) == held && pane(0) == "Unit Not Responding";
    })) << pane(0)
        << " | " << pane(1);
    EXPECT_EQ(service.Stop(), 0) << service.Run().Err();
    EXPECT_TRUE(ProcessEventsUntil([&] {
        return pane(1).starts_with("Uptime: ") || pane(1).starts_with("Cesium TOD: ");
    })) << pane(1);
}

TEST_F(PlotWithSimTest, TheLiveWindowGainsAPointPerRecord) {
    sim::SimulatorOptions options = testing::ModelOptions(kModelTq9000);
    options.instrument.serial = 2468;
    testing::SimWindowRig rig(options);
    ASSERT_TRUE(rig.online);
    CMainStatusDlg& window = *rig.window;
    // The unit's file holds another model's columns, so the recorder writes this model's
    // records to a file of their own; the window must follow them there.
    std::ofstream(rig.data.Path() / "Unit2468.csd", std::ios::binary)
        << TelemetryHeaderLine(kModel7730B) << kTelemetryLineEnd;
    rig.app.settings.RecordDataFile = true;
    testing::ModalDialogDriver driver;
    const auto file = rig.data.Path() / "Unit2468-403.csd";
    // Lines of the file, header not counted.
    const auto records = [&] {
        return static_cast<std::int64_t>(testing::CsdLines(file).size()) - 1;
    };
    std::int64_t history = -1;
    window.show();
    // Some history in the file before the plot window opens.
    ASSERT_TRUE(
        ProcessEventsUntil([&] { return std::filesystem::exists(file) && records() >= 2; }, 60000));
    QMetaObject::invokeMethod(
        &window,
        [&] {
            CPlotDlg* plot = window.OpenPlotWindow();
            ASSERT_NE(plot, nullptr);
            ProcessEventsUntil([&] { return plot->PlotsBuilt(); });
            history = plot->Store().PointCount();
            // Each record reaches the window before the file: after it, both agree.
            for (std::int64_t points = history + 1; points <= history + 3; ++points) {
                EXPECT_TRUE(
                    ProcessEventsUntil([&] { return plot->Store().PointCount() >= points; }));
                EXPECT_EQ(plot->Store().PointCount(), points);
                EXPECT_EQ(records(), points);
                EXPECT_EQ(plot->Pane(0)->Series(0)->Trace().Size(), points);
                EXPECT_EQ(records(), points);
            }
            plot->accept();
        },
        Qt::QueuedConnection);
    window.RunCommand(kCmdPlot);
    EXPECT_EQ(window.OpenPlotWindow(), nullptr);
    EXPECT_GE(history, 2);
    EXPECT_TRUE(driver.Messages().empty());
}

}  // namespace
}  // namespace corvane3
