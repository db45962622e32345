// The instrument settings, diagnostics and security dialogs from the main window's menu against
// the simulated instrument and the polling thread: what the unit receives, the user sees and the
// change log keeps.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "gui/security/SecurityDlg.h"
#include "support/DialogControls.h"
#include "support/ModalDialogDriver.h"
#include "support/SimFrames.h"
#include "support/SimWindowRig.h"
#include "support/TelemetryTestData.h"

namespace corvane3 {
namespace {

using namespace std::chrono_literals;
using Messages = std::vector<testing::ModalDialogDriver::Message>;
using testing::Click;
using testing::Find;
using testing::Lines;
using testing::ModelOptions;
using testing::ProcessEventsUntil;
using Strings = std::vector<std::string>;

// The rig with the change log and the frames the unit received read back.
class CSimRig : public testing::SimWindowRig {
  public:
    using SimWindowRig::SimWindowRig;
    // The data, or the parameter fields, of every frame with this code, in order.
    std::vector<std::string> Sent(const std::string& code, bool parameters = false) {
        return testing::SentFields(
            Sim(), code, parameters ? &sim::ReceivedFrame::parameter : &sim::ReceivedFrame::data);
    }
    std::vector<std::string> ChangeLogLines() const {
        return testing::FileLines(data.Path() / kChangeLogFileName);
    }
    void EnableSecurity(unsigned password) {
        Sim().WithInstrument([&](sim::CSimulatedInstrument& unit) { unit.SetPassword(password); });
        app.polling.SetRequest(ERequest::kSecurityCheck);
        ASSERT_TRUE(ProcessEventsUntil([&] { return app.polling.SecurityStatus.load(); }));
    }
};

// A Tq9000 on the simulator, online; the cases that need another unit make their own.
class SettingsDialogsWithSimTest : public testing::WidgetTest {
  protected:
    void SetUp() override { ASSERT_TRUE(rig.online); }
    CSimRig rig{ModelOptions(kModelTq9000)};
};
using EventLogWithSimTest = testing::WidgetTest;
using TestDiagnosticsWithSimTest = testing::WidgetTest;
using SecurityWithSimTest = testing::WidgetTest;

// The unit's offset set on the unit itself; the dialog starts from it.
TEST_F(SettingsDialogsWithSimTest, DeltaFSendsOnlyAnOffsetInRangeWithThePasswordWhenOneIsSet) {
    rig.Sim().WithInstrument([](sim::CSimulatedInstrument& unit) {
        return unit.HandleFrame({"W01", "00000", "-000123", "", {}}, sim::SimClock::now());
    });
    ASSERT_TRUE(
        ProcessEventsUntil([&] { return rig.app.unitState.Snapshot().d1.freqTune == -123; }));
    rig.EnableSecurity(42);
    testing::ModalDialogDriver driver([&](QDialog& dialog) {
        if (dialog.objectName() == "authorizeDialog") {
            Find<QLineEdit>(dialog, "password")->setText("42");
            Click(dialog, "apply");
            return;
        }
        EXPECT_EQ(Find<QLineEdit>(dialog, "offset")->text(), "-000123");
        for (const char* offset : {"1000000", "999999"}) {
            Find<QLineEdit>(dialog, "offset")->setText(QString::fromLatin1(offset));
            Click(dialog, "apply");
        }
    });
    rig.window->RunCommand(kCmdDeltaF);
    EXPECT_EQ(driver.Dialogs(), 2);
    EXPECT_EQ(
        driver.Messages(),
        (Messages{{" ", "Maximum frequency offset = +/- 999999e-15\nDelta-F Operation Aborted"},
                  {"Delta-F Notification", "Output Frequency modified"}}));
    EXPECT_EQ(rig.Sent("W01"), Strings{"+999999  "});
    EXPECT_EQ(rig.Sent("W01", true), Strings{"00042"});
}

TEST_F(SettingsDialogsWithSimTest, DeltaTAbortsOnceRefusesASlewOutOfRangeAndSendsAGoodOne) {
    const Messages told = testing::RunAsUser(*rig.window, kCmdDeltaT, [&](QDialog& dialog) {
        // An abort goes once however often it is pressed; the dialog stays open after it.
        Click(dialog, "abort");
        Click(dialog, "abort");
        EXPECT_EQ(Find<QPushButton>(dialog, "abort")->text(), "Done");
        for (const char* slew : {"10000", "-1", "9999"}) {
            if (std::string(slew) == "9999") {
                Find<QComboBox>(dialog, "direction")->setCurrentText("Retard");
            }
            Find<QLineEdit>(dialog, "slew")->setText(QString::fromLatin1(slew));
            Click(dialog, "apply");
        }
    });
    EXPECT_EQ(
        told,
        (Messages{{" ", "Maximum slew = 9999 ns\nDelta-T Operation Aborted"},
                  {" ", "Enter slew magnitude as a positive value\nDelta-T Operation Aborted"},
                  {"Delta-T Notification", "Phase-slewing operation in progress"}}));
    EXPECT_EQ(rig.Sent("W04").size(), 1u);
    EXPECT_EQ(rig.Sent("W03"), Strings{"-9999  "});
}

TEST_F(SettingsDialogsWithSimTest, TheTtlOutputSendsTheChosenSignal) {
    testing::RunAsUser(*rig.window, kCmdTtlOutput, [&](QDialog& dialog) {
        Click(dialog, "ttl10MHz");
        Click(dialog, "apply");
    });
    EXPECT_EQ(rig.Sent("W07"), Strings{"4"});
}

// A whole reply that does not begin with the command's echo: the sync did not happen.
TEST_F(SettingsDialogsWithSimTest, ASyncIsCompleteOnlyWhenTheReplyBeginsWithItsEcho) {
    for (const auto& [reply, status] :
         {std::pair<std::vector<std::string>, const char*>{{}, "Completed"},
          {{std::string("\x02") + "NO PPS\r\n\x03"}, "Did Not Complete"}}) {
        SCOPED_TRACE(status);
        rig.Sim().SetOverride("W22", reply);
        testing::ModalDialogDriver driver([&](QDialog& dialog) { Click(dialog, "apply"); });
        rig.window->RunCommand(kCmdSyncPps);
        EXPECT_TRUE(ProcessEventsUntil([&] { return !driver.Messages().empty(); }));
        EXPECT_EQ(driver.Messages(),
                  (Messages{{"Command Status", QString("Sync Complete\n Status = ") + status}}));
    }
}

// The PC's UTC clock, then an adjustment of an hour less a second.
TEST_F(SettingsDialogsWithSimTest, TimeOfDaySendsThePcsUtcClockAndThenAnAdjustment) {
    testing::ModalDialogDriver driver([&](QDialog& dialog) {
        Find<QComboBox>(dialog, "zone")->setCurrentText("UTC");
        Click(dialog, "send");
        Click(dialog, "hoursPlus");
        Click(dialog, "secondsMinus");
        Click(dialog, "apply");
    });
    const long long now = std::time(nullptr);
    rig.window->RunCommand(kCmdTimeOfDay);
    ASSERT_EQ(rig.Sent("B01").size(), 1u);
    EXPECT_NEAR(std::stoll(rig.Sent("B01")[0]), now, 5);
    EXPECT_EQ(rig.Sent("B03"), Strings{"+03599  "});
}

TEST_F(EventLogWithSimTest, ATq9000ReadsItsEventLogSlowlyListsEveryLineAndErasesIt) {
    sim::SimulatorOptions options = ModelOptions(kModelTq9000);
    options.pace = true;  // the log takes seconds to come in at 9600 baud
    CSimRig rig(options);
    ASSERT_TRUE(rig.online);
    QStringList expected;  // the unit's event lines as the list shows them
    for (const std::string& line : rig.Sim().WithInstrument(
             [](sim::CSimulatedInstrument& unit) { return unit.EventLogLines(); })) {
        expected << QString::fromStdString(line).replace(QLatin1Char('\t'), QString(6, ' '));
    }
    ASSERT_GE(expected.size(), 3);
    const Messages told = testing::RunAsUser(*rig.window, kCmdEventLog, [&](QDialog& dialog) {
        EXPECT_TRUE(ProcessEventsUntil([&] { return Lines(dialog, "eventList") == expected; }));
        EXPECT_EQ(Find<QLineEdit>(dialog, "eventCount")->text().toInt(), expected.size());
        // The unit's clock refreshes the dialog every second; the list, with the same count,
        // is not rebuilt, so the user's selection stays. A fetched log rebuilds it.
        auto* list = Find<QListWidget>(dialog, "eventList");
        list->setCurrentRow(1);
        const auto marked = [&] {
            return list->count() > 0 && list->item(0)->data(Qt::UserRole).toBool();
        };
        list->item(0)->setData(Qt::UserRole, true);
        const auto clock = [&] { return Find<QLabel>(dialog, "unitClock")->text(); };
        const QString before = clock();
        EXPECT_TRUE(ProcessEventsUntil([&] { return clock() != before && !clock().isEmpty(); }));
        EXPECT_TRUE(marked());
        EXPECT_EQ(list->currentRow(), 1);
        Click(dialog, "refreshView");
        EXPECT_TRUE(ProcessEventsUntil(
            [&] { return Lines(dialog, "eventList") == expected && !marked(); }, 60000));
        Click(dialog, "clearInstrument");
        EXPECT_TRUE(ProcessEventsUntil(
            [&] { return Find<QLineEdit>(dialog, "eventCount")->text() == "0"; }, 60000));
        EXPECT_TRUE(Lines(dialog, "eventList").isEmpty());
        Click(dialog, "cancel");
    });
    EXPECT_EQ(told,
              (Messages{{"Confirm Erase Event Log",
                         "Are you sure you want to clear all events from the cesium instrument "
                         "non-volatile memory?"}}));
    EXPECT_EQ(rig.Sent("W18").size(), 1u);
}

TEST_F(EventLogWithSimTest, AChronoBeamListsItsFactoryLogAndSetsItsClockFromThePc) {
    CSimRig rig(ModelOptions(kModelChronoBeam));
    ASSERT_TRUE(rig.online);
    QStringList factoryLines;
    testing::RunAsUser(*rig.window, kCmdFactoryEventLog, [&](QDialog& dialog) {
        ProcessEventsUntil([&] {
            return Lines(dialog, "eventList").size() == 2 &&
                   !Lines(dialog, "eventList")[0].startsWith("Retriev");
        });
        factoryLines = Lines(dialog, "eventList");
        Click(dialog, "cancel");
    });
    ASSERT_EQ(factoryLines.size(), 2);
    EXPECT_TRUE(factoryLines[0].endsWith("Factory calibration done"));
    EXPECT_NE(rig.Sent("D*6", true).at(0), "00000");  // the Factory access field

    // The unit's clock is years off; the dialog sets it to the PC's.
    rig.Sim().WithInstrument([](sim::CSimulatedInstrument& unit) {
        return unit.HandleFrame({"A06", "00000", "01/02/11", "", {}}, sim::SimClock::now());
    });
    const QString year = QString::number(QDate::currentDate().year());
    const Messages told = testing::RunAsUser(*rig.window, kCmdEventLog, [&](QDialog& dialog) {
        const auto clock = [&] { return Find<QLabel>(dialog, "unitClock")->text(); };
        EXPECT_TRUE(ProcessEventsUntil([&] { return clock().startsWith("2011/"); }))
            << clock().toStdString();
        Click(dialog, "setFromPcClock");
        rig.app.polling.SetRequest(ERequest::kDateAndTime);
        EXPECT_TRUE(ProcessEventsUntil([&] { return clock().startsWith(year); }))
            << clock().toStdString();
        Click(dialog, "cancel");
    });
    EXPECT_EQ(told, Messages{});
    ASSERT_EQ(rig.Sent("A07").size(), 1u);
    EXPECT_EQ(rig.Sent("A07").at(0).size(), 8u);  // hh:mm:ss
    EXPECT_EQ(rig.Sent("A06").back().substr(6), year.right(2).toStdString());
}

// A test ended with its own button (test 1's, or End Test for test 2) sends its "0" once: the
// polling thread's end-of-test pass sends it no second time.
TEST_F(TestDiagnosticsWithSimTest, TestOneStreamsItsLinesUntilEndedAndEachTestIsEndedOnce) {
    sim::SimulatorOptions options = ModelOptions(kModelTq9000);
    options.instrument.testLineInterval = 100ms;
    CSimRig rig(options);
    ASSERT_TRUE(rig.online);
    const auto settled = [&] {
        return !rig.app.polling.mailbox.IsPending() && rig.app.polling.DiagnosticsMode == 0;
    };
    QStringList lines;
    testing::RunAsUser(*rig.window, kCmdTestDiagnostics, [&](QDialog& dialog) {
        Click(dialog, "test1");
        EXPECT_EQ(Find<QPushButton>(dialog, "test1")->text(), "End Test");
        EXPECT_TRUE(ProcessEventsUntil([&] { return Lines(dialog, "replies").size() >= 4; }));
        // While test 1 runs, test 2 cannot start.
        Click(dialog, "setDds");
        Click(dialog, "test1");
        EXPECT_TRUE(ProcessEventsUntil(settled));
        lines = Lines(dialog, "replies");
        testing::Choose(dialog, "ddsStep", "End Test");
        Click(dialog, "setDds");
        EXPECT_TRUE(ProcessEventsUntil(settled));
        Click(dialog, "ok");
    });
    EXPECT_TRUE(ProcessEventsUntil(settled));
    ASSERT_GE(lines.size(), 4);
    EXPECT_EQ(lines[0], "A01 00000 Test 1 started");
    EXPECT_TRUE(lines[1].startsWith("DAC ")) << lines[1].toStdString();
    EXPECT_EQ(rig.Sent("A01"), (Strings{"1", "0"}));
    EXPECT_EQ(rig.Sent("A02"), Strings{"0"});
    const std::vector<std::string> log = rig.ChangeLogLines();
    ASSERT_EQ(log.size(), 3u) << ::testing::PrintToString(log);
    EXPECT_NE(log[1].find("\tA01\t0\tfactory\t"), std::string::npos) << log[1];
}

TEST_F(SettingsDialogsWithSimTest, DiagnosticsRefusesASlewBeyondFiveDigitsAndSendsNothing) {
    const Messages told =
        testing::RunAsUser(*rig.window, kCmdTestDiagnostics, [&](QDialog& dialog) {
            for (const char* slew : {"100000", "-100000", "99999999999999999999999"}) {
                Find<QLineEdit>(dialog, "slew")->setText(QString::fromLatin1(slew));
                Click(dialog, "timeUpdating");
                EXPECT_EQ(Find<QPushButton>(dialog, "timeUpdating")->text(), "Start") << slew;
            }
            Find<QLineEdit>(dialog, "slew")->setText("-99999");
            Click(dialog, "timeUpdating");
            EXPECT_TRUE(ProcessEventsUntil([&] { return !rig.Sent("W03").empty(); }));
            Click(dialog, "ok");
        });
    const testing::ModalDialogDriver::Message refused{" ",
                                                      "Slew must be between -99999 and +99999"};
    EXPECT_EQ(told, (Messages{refused, refused, refused}));
    EXPECT_EQ(rig.Sent("W03"), Strings{"-99999f"});
}

// With the unit's security on too, the alarm commands go with the Factory access option and
// no password prompt, and a strategy the user chose survives the status records that follow.
TEST_F(SettingsDialogsWithSimTest, AlarmsAppearByNameResetWithoutAPromptAndKeepTheUsersChoice) {
    rig.EnableSecurity(42);
    const QString fuseLine = QStringLiteral("26:    Fuse A open                  ");
    testing::ModalDialogDriver driver([&](QDialog& dialog) {
        auto* strategy = Find<QComboBox>(dialog, "restartStrategy");
        EXPECT_EQ(strategy->currentIndex(), 0);
        strategy->setCurrentIndex(1);
        emit strategy->activated(1);
        rig.Sim().WithInstrument([](sim::CSimulatedInstrument& unit) { unit.RaiseAlarm(0x26); });
        EXPECT_TRUE(
            ProcessEventsUntil([&] { return Lines(dialog, "alarmList").contains(fuseLine); }));
        EXPECT_EQ(strategy->currentText(), "Critical          (Manual Reset)");
        EXPECT_TRUE(Find<QPushButton>(dialog, "apply")->isEnabled());
        Click(dialog, "resetAlarms");
        EXPECT_EQ(Find<QPushButton>(dialog, "resetAlarms")->text(), "Done");
        EXPECT_TRUE(
            ProcessEventsUntil([&] { return !Lines(dialog, "alarmList").contains(fuseLine); }));
        Click(dialog, "apply");
    });
    rig.window->RunCommand(kCmdAlarms);
    EXPECT_EQ(driver.Dialogs(), 1) << "no password prompt";
    EXPECT_EQ(rig.Sent("W00", true), Strings{"00000"});
    EXPECT_EQ(rig.Sent("A18"), Strings{"1"});
    EXPECT_EQ(rig.Sent("A18", true), Strings{"00000"});
    EXPECT_EQ(driver.Messages(), (Messages{{"Alarm Settings", "Reset Alarm Strategy modified"}}));
    const std::vector<std::string> log = rig.ChangeLogLines();
    ASSERT_FALSE(log.empty());
    EXPECT_NE(log.back().find("\tA18\t1\tfactory\taccepted"), std::string::npos) << log.back();
}

// Every settings dialog sends through the same confirmation; Delta-F stands for them.
TEST_F(SettingsDialogsWithSimTest, AReplyCutShortAfterItsEchoIsNeverTakenForAChange) {
    // The echo of the frame head arrives, the rest of the reply never does.
    rig.Sim().SetOverride("W01", {std::string(1, kStx) + "W01 00000 "});
    const Messages told = testing::RunAsUser(*rig.window, kCmdDeltaF, [&](QDialog& dialog) {
        Find<QLineEdit>(dialog, "offset")->setText("-123");
        Click(dialog, "apply");
        Click(dialog, "cancel");
    });
    EXPECT_EQ(told,
              (Messages{{"Delta-F Notification",
                         "The instrument's reply was cut short; the change was not confirmed"}}));
    const std::vector<std::string> lines = rig.ChangeLogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find("\tW01\t"), std::string::npos) << lines.back();
    EXPECT_TRUE(lines.back().ends_with("\tno reply")) << lines.back();
}

// The dialog waits this long for the polling thread, so that a slow machine cannot turn an
// accepted password into a refused one.
constexpr std::chrono::milliseconds kPatientWait = 30s;

TEST_F(SecurityWithSimTest, APasswordIsSetFromTheMenuAndOnlyTheRightOneDisablesSecurity) {
    CSimRig rig(ModelOptions(kModelChronoBeam));
    ASSERT_TRUE(rig.online);
    sim::CSimulatorServer& sim = rig.Sim();
    const auto password = [&] {
        return sim.WithInstrument([](sim::CSimulatedInstrument& unit) { return unit.Password(); });
    };

    // No password yet: a new one, once its confirmation matches.
    const Messages told = testing::RunAsUser(*rig.window, kCmdSecurity, [&](QDialog& dialog) {
        Find<QLineEdit>(dialog, "newPassword")->setText("123");
        Find<QLineEdit>(dialog, "confirmPassword")->setText("124");
        Click(dialog, "apply");
        EXPECT_TRUE(dialog.isVisible() && rig.Sent("C08", true).empty());
        Find<QLineEdit>(dialog, "confirmPassword")->setText("123");
        Click(dialog, "apply");
    });
    EXPECT_EQ(told, (Messages{{"Confirm Password", "Confirm Password does not match"},
                              {"Security Settings", "Security Modified"}}));
    EXPECT_EQ(rig.Sent("C08"), Strings{"00123"});
    EXPECT_EQ(rig.Sent("C08", true), Strings{"00000"});
    EXPECT_EQ(password(), 123u);

    // Protected now: disabling takes the current password, and only the right one.
    testing::ModalDialogDriver driver;
    CSecurity dialog(rig.app.polling, nullptr, kPatientWait);
    dialog.show();
    const auto disableWith = [&](const char* current) {
        Find<QLineEdit>(dialog, "currentPassword")->setText(current);
        if (!dialog.findChild<QCheckBox*>("disableSecurity")->isChecked()) {
            Click(dialog, "disableSecurity");
        }
        Click(dialog, "apply");
    };
    disableWith("0");
    disableWith("122");
    EXPECT_EQ(driver.Messages(), (Messages{{"Current Password", "Password must be between 1-99999"},
                                           {"Security Notification", "Password not Accepted"}}));
    // The refusal starts the dialog again: fields emptied, the current password asked first.
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(Find<QLineEdit>(dialog, "currentPassword")->text().isEmpty());
    EXPECT_TRUE(Find<QLineEdit>(dialog, "currentPassword")->isEnabled());
    EXPECT_FALSE(dialog.findChild<QPushButton*>("apply")->isEnabled());
    disableWith("123");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(rig.Sent("C09", true), (Strings{"00122", "00123"}));
    EXPECT_EQ(password(), 0u);
}

}  // namespace
}  // namespace corvane3
