// The telecom, Ethernet and factory settings dialogs against the simulated instrument and the
// polling thread: what they show, what the unit receives, and what the user is told.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "core/link/CommandFrame.h"
#include "core/program/TerminationSignals.h"
#include "support/CommaLocale.h"
#include "support/DialogControls.h"
#include "support/ModalDialogDriver.h"
#include "support/SimWindowRig.h"

namespace corvane3 {
namespace {

using namespace std::chrono_literals;
using Message = testing::ModalDialogDriver::Message;
using Messages = std::vector<Message>;
using Strings = std::vector<std::string>;
using testing::Choose;
using testing::Click;
using testing::Find;
using testing::ProcessEventsUntil;
using testing::Shown;

const QString kTelecomTitle = QStringLiteral("Telecom Output Notification");
// The codes of a Factory Settings run.
const Strings kFactory{"C01", "W10", "A17", "A13", "C07", "C02"};

void Type(QWidget& dialog, const char* edit, const QString& text) {
    Find<QLineEdit>(dialog, edit)->setText(text);
    emit Find<QLineEdit>(dialog, edit)->textEdited(text);
}
QString Text(QWidget& dialog, const char* edit) {
    return Find<QLineEdit>(dialog, edit)->text();
}
// Each entry typed and applied in turn, then put back as it was.
void ApplyEach(QDialog& dialog, const std::vector<std::pair<const char*, QString>>& entries) {
    for (const auto& [edit, text] : entries) {
        const QString before = Text(dialog, edit);
        Type(dialog, edit, text);
        Click(dialog, "apply");
        EXPECT_TRUE(dialog.isVisible()) << edit << ' ' << text.toStdString();
        Type(dialog, edit, before);
    }
}
// The unit's whole reply to code: its echo, then the mark ('?' not understood, '!' refused).
std::vector<std::string> Reply(const std::string& code, char mark) {
    return {kStx + code + " 00000 " + mark + "\r\n" + kEtx};
}

class InstallationSettingsWithSimTest : public testing::WidgetTest {
  protected:
    // A unit of model on the simulator, the polling thread and the main window, after the
    // records that fill the dialogs.
    void Start(int model, bool instrumentSweep = false) {
        rig_ = std::make_unique<testing::SimWindowRig>(
            testing::ModelOptions(model, instrumentSweep), [](const Corvane3App& app) {
                const UnitStateData unit = app.unitState.Snapshot();
                return unit.d2.valid[13] && unit.d5.yearOfManufacture != 0;
            });
        ASSERT_TRUE(rig_->online);
        sim_ = &rig_->Sim();
        window_ = rig_->window.get();
    }
    // The frames of these codes the unit received since the last ClearFrames, as "code data",
    // or their parameter fields.
    std::vector<std::string> Sent(const std::vector<std::string>& codes,
                                  bool parameters = false) const {
        std::vector<std::string> sent;
        for (const sim::ReceivedFrame& frame : sim_->Frames()) {
            if (std::find(codes.begin(), codes.end(), frame.code) != codes.end()) {
                sent.push_back(parameters ? frame.parameter : frame.code + ' ' + frame.data);
            }
        }
        return sent;
    }

    std::unique_ptr<testing::SimWindowRig> rig_;
    sim::CSimulatorServer* sim_ = nullptr;
    CMainStatusDlg* window_ = nullptr;
};

TEST_F(InstallationSettingsWithSimTest, Tq9000TelecomShowsTheUnitsFramingAndSendsBothCommands) {
    ASSERT_NO_FATAL_FAILURE(Start(kModelTq9000));
    const std::vector<std::string> telecom{"B10", "B11"};
    const Messages told = testing::RunAsUser(*window_, kCmdTelecom, [&](QDialog& dialog) {
        // The lists are filled again once the unit's settings have been fetched.
        ASSERT_TRUE(ProcessEventsUntil([&] {
            return Find<QComboBox>(dialog, "e1Format")->isEnabled() &&
                   Find<QComboBox>(dialog, "t1Format")->isEnabled();
        }));
        Choose(dialog, "e1Format", "TS-16");
        Choose(dialog, "e1SaChannel", "6");
        Choose(dialog, "t1Format", "D4");
        Choose(dialog, "t1Fault", "AIS");
        Click(dialog, "apply");
    });
    EXPECT_EQ(told, (Messages{{kTelecomTitle, "Telecom Output Configuration Modified"}}));
    EXPECT_EQ(Sent(telecom), (Strings{"B11 CRC40 TS161 SSM SSM6", "B10 D4 AIS"}));

    // A unit without T1: its lists are greyed and only the E1 command goes out.
    sim_->SetOverride("B30", Reply("B30", '?'));
    sim_->ClearFrames();
    testing::RunAsUser(*window_, kCmdTelecom, [&](QDialog& dialog) {
        ASSERT_TRUE(
            ProcessEventsUntil([&] { return !Find<QComboBox>(dialog, "t1Format")->isEnabled(); }));
        EXPECT_FALSE(Find<QComboBox>(dialog, "t1Fault")->isEnabled());
        EXPECT_TRUE(Find<QComboBox>(dialog, "e1Fault")->isEnabled());
        EXPECT_EQ(Shown(dialog, "e1Format"), "TS-16");  // read back from the unit
        Choose(dialog, "e1Fault", "MUTE");
        Click(dialog, "apply");
    });
    EXPECT_EQ(Sent(telecom), (Strings{"B11 CRC40 TS161 MUT SSM6"}));
}

TEST_F(InstallationSettingsWithSimTest, ChronoBeamTelecomRemembersItsChoicesAndReportsARefusal) {
    ASSERT_NO_FATAL_FAILURE(Start(kModelChronoBeam));
    const std::vector<std::string> telecom{"A20", "A21", "A22"};
    const Messages told = testing::RunAsUser(*window_, kCmdTelecom, [&](QDialog& dialog) {
        // Nothing chosen yet: the lists are unset.
        Click(dialog, "e1Mute");
        Click(dialog, "apply");  // refused while the lists are unset
        EXPECT_TRUE(Sent(telecom).empty());
        Choose(dialog, "e1Format", "Basic E1");
        Choose(dialog, "e1SaChannel", "4");
        Choose(dialog, "t1Format", "ESF");
        Click(dialog, "e1Ssm");  // one choice: clears Mute
        Click(dialog, "t1Ais");
        Click(dialog, "channel1Framed");
        Click(dialog, "channel1T1");  // LIU from "0 (E1)" to the short T1 setting
        Click(dialog, "channel1Bal");
        Choose(dialog, "channel2Liu", "5 (T1 266-399 feet)");
        Click(dialog, "channel2T1");  // keeps a T1 setting
        Click(dialog, "channel2Clocked");
        Click(dialog, "channel2Unbal");
        EXPECT_FALSE(Find<QCheckBox>(dialog, "e1Mute")->isChecked());
        Click(dialog, "apply");
    });
    EXPECT_EQ(told, (Messages{{kTelecomTitle,
                               "Please choose the E1 format, the SSM channel and "
                               "the T1 format"},
                              {kTelecomTitle, "Telecom Output Configuration Modified"}}));
    EXPECT_EQ(Sent(telecom),
              (Strings{"A20 1,4,0100", "A21 2,3", "A22 1,T,F,B,3", "A22 2,T,C,U,5"}));
    EXPECT_EQ(Sent(telecom, true), Strings(4, FactoryAccessField()));

    // The choices come back at the next opening; a refused T1 command stops the rest.
    sim_->SetOverride("A21", Reply("A21", '!'));
    sim_->ClearFrames();
    const Messages toldAgain = testing::RunAsUser(*window_, kCmdTelecom, [&](QDialog& dialog) {
        EXPECT_TRUE(Find<QCheckBox>(dialog, "e1Ssm")->isChecked());
        EXPECT_TRUE(Find<QCheckBox>(dialog, "t1Ais")->isChecked());
        EXPECT_EQ(Shown(dialog, "channel1Liu"), "3 (T1 0-133 feet,  Ansi T1.403)");
        EXPECT_EQ(Shown(dialog, "channel2Liu"), "5 (T1 266-399 feet)");
        Click(dialog, "channel1E1");  // LIU back to "0 (E1)"
        Click(dialog, "apply");
        EXPECT_TRUE(dialog.isVisible());
        Click(dialog, "cancel");
    });
    EXPECT_EQ(toldAgain, (Messages{{kTelecomTitle,
                                    "Not every setting was modified.\n"
                                    "Accepted: E1 pattern generator\n"
                                    "Refused by the unit: T1 pattern generator\n"
                                    "Not sent: Output channel 1, Output channel 2"},
                                   {kTelecomTitle, "Telecom Output Configuration NOT modified"}}));
    EXPECT_EQ(Sent(telecom), (Strings{"A20 1,4,0100", "A21 2,3"}));
}

TEST_F(InstallationSettingsWithSimTest, EthernetShowsTheUnitsAddressesAndRefusesABadOne) {
    ASSERT_NO_FATAL_FAILURE(Start(kModelTq9000));
    const std::vector<std::string> b12{"B12"};
    const Messages told = testing::RunAsUser(*window_, kCmdEthernet, [&](QDialog& dialog) {
        ASSERT_TRUE(ProcessEventsUntil([&] { return !Text(dialog, "ipAddress").isEmpty(); }));
        // Each refused with nothing sent; the dialog stays open.
        ApplyEach(dialog, {{"ipAddress", "172.16.24.84.1"},
                           {"netmask", "255.256.0.0"},
                           {"gateway", "10.0.0"},
                           {"gateway", "10..0.1"}});
        EXPECT_TRUE(Sent(b12).empty());
        Type(dialog, "ipAddress", "10.1.2.3");
        Type(dialog, "gateway", "");
        Click(dialog, "apply");
    });
    ASSERT_EQ(told.size(), 5u);
    EXPECT_EQ(told[0], (Message{"Range Error",
                                "IP Address must be four numbers from 0 to 255 "
                                "separated by dots, for example 172.16.24.84"}));
    EXPECT_EQ(told[4], (Message{"Ethernet Notification", "Ethernet settings modified"}));
    EXPECT_EQ(Sent(b12), (Strings{"B12 1 0 010.001.002.003 255.255.000.000 000.000.000.000 "}));

    // Read back at the next opening; a disabled port greys the rest but still sends it.
    sim_->ClearFrames();
    testing::RunAsUser(*window_, kCmdEthernet, [&](QDialog& dialog) {
        ASSERT_TRUE(ProcessEventsUntil([&] { return Text(dialog, "ipAddress") == "10.1.2.3"; }));
        EXPECT_TRUE(Text(dialog, "gateway").isEmpty());
        Click(dialog, "enablePort");
        EXPECT_FALSE(Find<QCheckBox>(dialog, "useDhcp")->isEnabled());
        EXPECT_FALSE(Find<QLineEdit>(dialog, "ipAddress")->isEnabled());
        Click(dialog, "apply");
    });
    EXPECT_EQ(Sent(b12), (Strings{"B12 0 0 010.001.002.003 255.255.000.000 000.000.000.000 "}));
}

TEST_F(InstallationSettingsWithSimTest, FactorySettingsChecksEntriesAndSendsAllFiveInOrder) {
    ASSERT_NO_FATAL_FAILURE(Start(kModelChronoBeam, true));
    sim_->SetOverride("A17", Reply("A17", '!'));
    sim_->ClearFrames();
    const Messages told = testing::RunAsUser(*window_, kCmdFactorySettings, [&](QDialog& dialog) {
        ApplyEach(dialog, {{"unitId", "100000"},
                           {"manufacturingDate", "1/2/2007"},
                           {"manufacturingDate", "02/30/07"},
                           {"powerOnHours", "0"},
                           {"powerOnHours", "100000"},
                           {"zeemanRabiTilt", "+10000"}});
        EXPECT_TRUE(Sent(kFactory).empty());

        Click(dialog, "memorizeNominals");
        EXPECT_EQ(Find<QPushButton>(dialog, "memorizeNominals")->text(), "Done");
        Type(dialog, "unitId", "0");
        Type(dialog, "loopTau", "120");
        Type(dialog, "manufacturingDate", "02/29/08");
        Type(dialog, "powerOnHours", "99999");
        Type(dialog, "zeemanRabiTilt", "-12");
        Click(dialog, "apply");  // the date is refused by the unit
        EXPECT_TRUE(dialog.isVisible() && Text(dialog, "loopTau") == "99.99");
        sim_->SetOverride("A17", {});
        Click(dialog, "apply");
    });
    const QString range = QStringLiteral("Range Error");
    const QString hours = QStringLiteral("Power On Hours must be >0 and <100000");
    const QString layout =
        QStringLiteral("Please enter Manufacturing date in the form \"mm/dd/yy\"");
    EXPECT_EQ(told, (Messages{{range, "UnitID must be between 0-99999"},
                              {"Corvane3", layout},
                              {range, "Manufacturing date 02/30/07 does not exist (mm/dd/yy)"},
                              {range, hours},
                              {range, hours},
                              {range, "Zeeman Rabi Tilt must be between -9999 and +9999"},
                              {range, "Time Constant set to 99.99 sec"},
                              {"Factory Settings Notification",
                               "Not every setting was modified.\n"
                               "Accepted: Unit ID, Loop Tau\n"
                               "Refused by the unit: Manufacturing Date\n"
                               "Not sent: Power On Hours, Zeeman Rabi Tilt"},
                              {"Factory Settings Notification", "Factory Settings modified"}}));
    const std::vector<std::string> five{"C01 00000", "W10 1 99.99", "A17 02/29/08", "A13 99999",
                                        "C07 -0012"};
    std::vector<std::string> expected{"C02 ", five[0], five[1], five[2]};
    expected.insert(expected.end(), five.begin(), five.end());
    EXPECT_EQ(Sent(kFactory), expected);
    EXPECT_EQ(Sent(kFactory, true), Strings(expected.size(), FactoryAccessField()));
    EXPECT_EQ(sim_->WithInstrument([](sim::CSimulatedInstrument& unit) { return unit.Serial(); }),
              0u);
}

// A user whose language writes decimal commas changes only the unit ID: the loop time constant
// goes to the unit as it was read from it.
TEST_F(InstallationSettingsWithSimTest,
       FactorySettingsUnderADecimalCommaLocaleKeepTheTimeConstant) {
    ASSERT_NO_FATAL_FAILURE(Start(kModelChronoBeam, true));
    sim_->ClearFrames();
    const testing::ScopedCommaLocale comma;
    const Messages told = testing::RunAsUser(*window_, kCmdFactorySettings, [&](QDialog& dialog) {
        EXPECT_EQ(Text(dialog, "loopTau"), " 1.33");
        Type(dialog, "unitId", "4321");
        Click(dialog, "apply");
    });
    EXPECT_EQ(told, (Messages{{"Factory Settings Notification", "Factory Settings modified"}}));
    EXPECT_EQ(Sent({"C01", "W10"}), (Strings{"C01 04321", "W10 1 1.33"}));
}

// A termination request while Factory Settings waits for a reply that does not come: the wait
// ends, the rest of the run is not sent and nobody is asked anything.
TEST_F(InstallationSettingsWithSimTest, ATerminationRequestEndsAFactorySettingsRunAtOnce) {
    ASSERT_NO_FATAL_FAILURE(Start(kModelChronoBeam, true));
    sim_->ClearFrames();
    sim_->SetOverride("C01", {""});
    QTimer signal;  // as the handler does once the first command is on its way
    QObject::connect(&signal, &QTimer::timeout, [&] {
        TerminationUnderway() = TerminationUnderway() || !Sent(kFactory).empty();
    });
    signal.start(10);
    std::vector<std::string> sentAfter;
    const Messages told = testing::RunAsUser(*window_, kCmdFactorySettings, [&](QDialog& dialog) {
        Type(dialog, "unitId", "7");
        Click(dialog, "apply");
        sentAfter = Sent(kFactory);
        dialog.reject();
    });
    TerminationUnderway() = false;
    ASSERT_EQ(sentAfter.size(), 1u);
    EXPECT_EQ(Sent(kFactory), sentAfter);
    EXPECT_EQ(told, Messages{});
}

}  // namespace
}  // namespace corvane3
