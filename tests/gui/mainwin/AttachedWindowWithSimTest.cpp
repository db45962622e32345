// The main window attached to a headless run that records the simulated instrument and serves
// its link: the window shows the records the file gets, its settings change reaches the unit
// once between two polls with the user in the change log, and the file loses no poll.

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>
#include <csignal>
#include <set>

#include "core/link/MainStatusText.h"
#include "core/telemetry/TelemetryFormat.h"
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
using Messages = std::vector<testing::ModalDialogDriver::Message>;

constexpr int kLongWaitMs = 60000;
// A program's first line is waited for this many times its bound: a window starts slowly on a
// loaded machine.
constexpr int kLineTries = 6;
// Two of the service's polling intervals and a margin.
constexpr std::chrono::seconds kSweptLongEnough{5};
// A unit's own sweep of 21 points lasts longer than kSweptLongEnough.
constexpr std::chrono::milliseconds kSweepPointInterval{500};
// The unit's silence after a reboot, short so that polling comes back soon.
constexpr std::chrono::milliseconds kRebootSilence{500};

using AttachedWindowWithSimTest = testing::WidgetTest;

// The record line the window's value boxes show, once they show one the service sent with the
// details the line does not hold (the unit's clock, its firmware, its memory's dates).
std::optional<std::string> ShownRecordLine(const testing::AttachedWindow& attached) {
    const std::int32_t model = attached.app.unitState.InstrumentModel;
    const UnitStateData shown = attached.app.unitState.Snapshot();
    const std::string line = TelemetryRecordLine(shown, model);
    if (shown.timeText.empty() || shown.displayFirmware.empty() ||
        shown.d5.yearOfManufacture == 0) {
        return std::nullopt;
    }
    UnitStateData fromLine = shown;  // the details as they came beside the line
    std::int32_t lineModel = 0;
    if (!ParseTelemetryRecordLine(line, fromLine, lineModel)) {
        return std::nullopt;
    }
    for (const ValueBox& box : MainStatusValueBoxes()) {
        const auto* label = attached.window->findChild<QLabel*>(QString::fromLatin1(box.name));
        if (label == nullptr ||
            label->text().toStdString() != ValueBoxText(box, fromLine, lineModel)) {
            return std::nullopt;
        }
    }
    return line;
}

TEST_F(AttachedWindowWithSimTest, ShowsTheFilesRecordsAndItsChangeReachesTheUnitOnceBetweenPolls) {
    testing::LoggingService service(testing::ModelOptions(kModelTq9000));
    ASSERT_TRUE(service.Started()) << service.Run().Err();
    testing::AttachedWindow attached(service.Socket());
    ASSERT_FALSE(attached.problem) << *attached.problem;
    CMainStatusDlg& window = *attached.window;
    window.show();
    std::optional<std::string> shown;
    ASSERT_TRUE(ProcessEventsUntil([&] { return (shown = ShownRecordLine(attached)).has_value(); },
                                   kLongWaitMs));
    EXPECT_TRUE(window.windowTitle().contains(kViaService)) << window.windowTitle().toStdString();

    {
        testing::ModalDialogDriver driver([](QDialog& dialog) {
            testing::Find<QLineEdit>(dialog, "offset")->setText("-123");
            testing::Click(dialog, "apply");
        });
        window.RunCommand(kCmdDeltaF);
        EXPECT_EQ(driver.Messages(),
                  (Messages{{"Delta-F Notification", "Output Frequency modified"}}));
    }
    // Polling goes on after it: the offset read back by a later record.
    EXPECT_TRUE(ProcessEventsUntil(
        [&] { return attached.app.unitState.Snapshot().d1.freqTune == -123; }, kLongWaitMs));
    EXPECT_TRUE(attached.Stop());
    attached.window.reset();
    ASSERT_EQ(service.Stop(), 0) << service.Run().Err();

    // Once, and not inside a poll (D*1, D*2, D*5, B20, A24 follow each other within one).
    const std::vector<sim::ReceivedFrame> frames = service.Sim().Frames();
    const auto isOffset = [](const sim::ReceivedFrame& f) { return f.code == "W01"; };
    ASSERT_EQ(std::ranges::count_if(frames, isOffset), 1);
    const auto at = std::ranges::find_if(frames, isOffset);
    ASSERT_TRUE(at != frames.begin() && at + 1 != frames.end());
    EXPECT_EQ(at->data, "-000123  ");
    for (const char* inside : {"D*1", "D*2", "D*5", "B20"}) {
        EXPECT_NE(at[-1].code, inside);
    }
    for (const char* inside : {"D*2", "D*5", "B20", "A24"}) {
        EXPECT_NE(at[1].code, inside);
    }
    const std::string changes = testing::FileText(service.ChangeLog());
    EXPECT_NE(changes.find("\tW01\t-000123  \tnone\taccepted\tby " + testing::MyUserName() +
                           " via the logging service\n"),
              std::string::npos)
        << changes;

    // The record the window showed is the file's; every status poll the unit answered is in
    // the file once; the window recorded nothing of its own.
    const std::vector<std::string> lines = testing::CsdLines(service.Records() / "Unit1234.csd");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(std::ranges::count(lines, *shown), 1) << *shown;
    EXPECT_EQ(std::set<std::string>(lines.begin() + 1, lines.end()).size(), lines.size() - 1);
    EXPECT_EQ(testing::SentFields(service.Sim(), "D*1").size(), lines.size() - 1);
    EXPECT_TRUE(std::filesystem::is_empty(attached.data.Path()));
}

// A window killed mid-sweep cannot end the sweep itself: the service sends what the window
// registered to end it, and its polls, held while the window swept, come back.
TEST_F(AttachedWindowWithSimTest, AWindowKilledMidSweepHasTheServiceEndItAndPollingResumes) {
    const struct {
        bool instrumentSweep;
        std::string pointCode, pointData;  // a frame of the sweep running
        std::string endCode, endData;      // what ends it: a reboot, or the unit's sweep off
    } kCases[] = {{false, "A04", "?", "A02", "0"}, {true, "A05", "", "A05", "off"}};
    for (const auto& c : kCases) {
        sim::SimulatorOptions options = testing::ModelOptions(kModelTq9000, c.instrumentSweep);
        options.instrument.rebootSilence = kRebootSilence;
        options.instrument.sweepPointInterval = kSweepPointInterval;
        testing::LoggingService service(options);
        ASSERT_TRUE(service.Started()) << service.Run().Err();
        testing::ChildProcess window({CORVANE3_ATTACHED_SWEEP_WINDOW, service.Socket()});
        std::string said;
        for (int tries = 0; tries < kLineTries && said.empty(); ++tries) {
            said = window.ReadLine();
        }
        ASSERT_EQ(said, "sweeping") << window.Err();
        const auto isPoint = [&](const sim::ReceivedFrame& f) {
            return f.code == c.pointCode && f.data != c.endData &&
                   (c.pointData.empty() || f.data == c.pointData);
        };
        const auto isEnd = [&](const sim::ReceivedFrame& f) {
            return f.code == c.endCode && f.data == c.endData;
        };
        // Swept for longer than two polling intervals, so that a poll not held would show.
        ASSERT_TRUE(ProcessEventsUntil(
            [&] {
                const std::vector<sim::ReceivedFrame> frames = service.Sim().Frames();
                const auto first = std::ranges::find_if(frames, isPoint);
                return first != frames.end() &&
                       std::chrono::steady_clock::now() - first->received > kSweptLongEnough;
            },
            kLongWaitMs));
        window.Signal(SIGKILL);
        window.Wait();
        const auto records = [&] {
            return testing::CsdLines(service.Records() / "Unit1234.csd").size();
        };
        ASSERT_TRUE(ProcessEventsUntil(
            [&] { return std::ranges::any_of(service.Sim().Frames(), isEnd); }, kLongWaitMs));
        const std::size_t recordsBefore = records();
        ASSERT_TRUE(
            ProcessEventsUntil([&] { return records() >= recordsBefore + 2; }, kLongWaitMs));
        ASSERT_EQ(service.Stop(), 0) << service.Run().Err();

        // Ended once, with no status poll between the sweep's first frame and its end.
        const std::vector<sim::ReceivedFrame> frames = service.Sim().Frames();
        EXPECT_EQ(std::ranges::count_if(frames, isEnd), 1) << c.endCode;
        const auto point = std::ranges::find_if(frames, isPoint);
        const auto end = std::ranges::find_if(frames, isEnd);
        ASSERT_LT(point, end);
        EXPECT_EQ(std::count_if(point, end, [](const auto& f) { return f.code == "D*1"; }), 0);
        const std::string changes = testing::FileText(service.ChangeLog());
        EXPECT_NE(changes.find("\t" + c.endCode + "\t" + c.endData + "\t"), std::string::npos)
            << changes;
        EXPECT_NE(changes.find("by " + testing::MyUserName() + " via the logging service"),
                  std::string::npos);
    }
}

// A window on a port a logging service holds offers to attach to it; attached, once the service
// has gone, it offers to take the port. Each question waits without holding the window, and a
// Yes closes it for the way chosen.
TEST_F(AttachedWindowWithSimTest, OffersToAttachToThePortsServiceAndToTakeThePortOnceItHasGone) {
    testing::LoggingService service(testing::ModelOptions(kModelTq9000));
    ASSERT_TRUE(service.Started()) << service.Run().Err();
    const auto answerYes = [](QWidget& window, const char* name) {
        QMessageBox* box = nullptr;
        if (!ProcessEventsUntil(
                [&] { return (box = window.findChild<QMessageBox*>(name)) && box->isVisible(); })) {
            return std::string();
        }
        const std::string text = box->text().toStdString();
        box->button(QMessageBox::Yes)->click();
        return text;
    };
    {
        testing::PortWindow own((service.Dir() / "unit").string());
        CMainStatusDlg& window = *own.window;
        window.SetAttachOffered(true);
        window.show();
        const std::string asked = answerYes(window, "attachQuestion");
        EXPECT_NE(
            asked.find("in use by process " + std::to_string(service.Run().Pid()) + " (corvane3)"),
            std::string::npos)
            << asked;
        EXPECT_EQ(window.ChosenLink(), service.Socket());
        EXPECT_FALSE(window.isVisible());
    }
    testing::AttachedWindow attached(service.Socket());
    ASSERT_FALSE(attached.problem) << *attached.problem;
    attached.window->show();
    ASSERT_TRUE(ProcessEventsUntil([&] { return attached.app.unitState.Online.load(); }));
    EXPECT_FALSE(attached.window->findChild<QMessageBox*>("attachQuestion"));
    ASSERT_EQ(service.Stop(), 0) << service.Run().Err();
    EXPECT_NE(answerYes(*attached.window, "serviceGoneMessage").find("Use the port"),
              std::string::npos);
    EXPECT_EQ(attached.window->ChosenLink(), "");
    EXPECT_FALSE(attached.window->isVisible());
    EXPECT_TRUE(attached.Stop());
}

}  // namespace
}  // namespace corvane3
