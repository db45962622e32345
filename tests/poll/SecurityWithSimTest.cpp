// Password commands against the simulated instrument with the real polling thread: what the
// unit receives, and what the user is told.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <memory>

#include "mainwin/MainStatusDlg.h"
#include "mainwin/QueuedNotificationSink.h"
#include "poll/AuthorizedCommand.h"
#include "poll/PollingThread.h"
#include "poll/SecurityDlg.h"
#include "sim/SimulatorServer.h"
#include "support/ModalDialogDriver.h"
#include "support/ProcessEvents.h"
#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

using namespace std::chrono_literals;
using Messages = std::vector<testing::ModalDialogDriver::Message>;

// The dialogs here wait this long for the polling thread, so that a slow machine cannot turn an
// accepted password into a refused one.
constexpr std::chrono::milliseconds kPatientWait = 30s;

using testing::ProcessEventsUntil;

QLineEdit* Edit(QWidget& dialog, const char* name) {
    return dialog.findChild<QLineEdit*>(name);
}
void Click(QWidget& dialog, const char* button) {
    dialog.findChild<QAbstractButton*>(button)->click();
}

class SecurityWithSimTest : public testing::WidgetTest {
  protected:
    // A simulated unit (password 0: security off) and the polling thread on it; returns when the
    // unit is online and its security state known.
    void Start(int model, unsigned password) {
        sim::SimulatorOptions options;
        options.instrument.model = model;
        options.instrument.warmup = 0ms;
        options.instrument.password = password;
        sim_ = std::make_unique<sim::CSimulatorServer>(options);
        ASSERT_TRUE(sim_->IsOpen()) << sim_->Error();
        SerialLineSettings line;
        line.name = sim_->SlavePath();
        app_.serialPort.SetSettings(line);
        polling_ =
            std::make_unique<CPollingThread>(app_.serialPort, app_.unitState, app_.linkStatus,
                                             app_.polling, app_.settings, notifications_);
        polling_->StartBackgroundThread();
        ASSERT_TRUE(ProcessEventsUntil(
            [&] { return app_.unitState.Online && app_.unitState.InstrumentModel == model; }));
        CheckSecurity();
    }
    void CheckSecurity() {
        app_.polling.SetRequest(Request::kSecurityCheck);
        ASSERT_TRUE(
            ProcessEventsUntil([&] { return !app_.polling.IsRequested(Request::kSecurityCheck); }));
    }
    void TearDown() override {
        if (polling_) {
            EXPECT_TRUE(polling_->StopBackgroundThread());
        }
    }
    unsigned UnitPassword() {
        return sim_->WithInstrument(
            [](sim::CSimulatedInstrument& unit) { return unit.Password(); });
    }
    // The parameter fields of one command's frames, oldest first.
    std::vector<std::string> ParametersOf(const std::string& code) {
        std::vector<std::string> parameters;
        for (const sim::ReceivedFrame& frame : sim_->Frames()) {
            if (frame.code == code) {
                parameters.push_back(frame.parameter);
            }
        }
        return parameters;
    }

    Corvane3App app_;
    CQueuedNotificationSink notifications_;
    std::unique_ptr<sim::CSimulatorServer> sim_;
    std::unique_ptr<CPollingThread> polling_;
};

TEST_F(SecurityWithSimTest, DisableSecurityTakesTheRightCurrentPasswordOnly) {
    Start(kModelChronoBeam, 42);
    testing::ModalDialogDriver driver;
    CSecurity dialog(app_.polling, nullptr, kPatientWait);
    dialog.show();
    const auto disableWith = [&](const char* current) {
        Edit(dialog, "currentPassword")->setText(current);
        if (!dialog.findChild<QCheckBox*>("disableSecurity")->isChecked()) {
            Click(dialog, "disableSecurity");
        }
        Click(dialog, "apply");
    };
    disableWith("0");
    disableWith("41");
    EXPECT_EQ(driver.Messages(), (Messages{{"Current Password", "Password must be between 1-99999"},
                                           {"Security Notification", "Password not Accepted"}}));
    EXPECT_EQ(UnitPassword(), 42u);
    // The refusal starts the dialog again: fields emptied, the current password asked first.
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(Edit(dialog, "currentPassword")->text().isEmpty());
    EXPECT_TRUE(Edit(dialog, "currentPassword")->isEnabled());
    EXPECT_FALSE(dialog.findChild<QCheckBox*>("disableSecurity")->isChecked());
    EXPECT_FALSE(dialog.findChild<QPushButton*>("apply")->isEnabled());

    disableWith("42");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(ParametersOf("C09"), (std::vector<std::string>{"00041", "00042"}));
    CheckSecurity();
    EXPECT_FALSE(app_.polling.SecurityStatus);
    EXPECT_EQ(UnitPassword(), 0u);
}

TEST_F(SecurityWithSimTest, NewPasswordFromTheSecurityMenuAfterAMismatchedConfirmation) {
    Start(kModelChronoBeam, 0);
    CMainStatusDlg window(app_, notifications_, polling_.get());
    bool mismatchSentNothing = false;
    testing::ModalDialogDriver driver([&](QDialog& dialog) {
        Edit(dialog, "newPassword")->setText("123");
        Edit(dialog, "confirmPassword")->setText("124");
        Click(dialog, "apply");
        mismatchSentNothing =
            dialog.isVisible() && !app_.polling.mailbox.IsPending() && ParametersOf("C08").empty();
        Edit(dialog, "confirmPassword")->setText("123");
        Click(dialog, "apply");
    });
    window.RunCommand(kCmdSecurity);

    EXPECT_TRUE(mismatchSentNothing);
    EXPECT_EQ(driver.Messages(), (Messages{{"Confirm Password", "Confirm Password does not match"},
                                           {"Security Settings", "Security Modified"}}));
    const std::optional<sim::ReceivedFrame> frame = sim_->WaitForFrame("C08", 10s);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->data, "00123");
    EXPECT_EQ(frame->parameter, "00000");
    EXPECT_EQ(UnitPassword(), 123u);
}

TEST_F(SecurityWithSimTest, ProtectedCommandCarriesTheTypedPassword) {
    Start(kModelTq9000, 42);
    const char* typed = "";
    testing::ModalDialogDriver driver([&](QDialog& prompt) {
        Edit(prompt, "password")->setText(typed);
        Click(prompt, "apply");
    });
    const auto send = [&] {
        return SendProtectedCommand(app_.polling, app_.unitState, {"W18", "", 0, 32, 0},
                                    "Event Log Notification", nullptr, {kPatientWait, false});
    };
    typed = "41";
    EXPECT_EQ(send(), CommandOutcome::kRefused);
    EXPECT_EQ(driver.Messages(), (Messages{{"Event Log Notification", "Password not Accepted"}}));
    typed = "42";
    EXPECT_EQ(send(), CommandOutcome::kDone);
    EXPECT_FALSE(app_.polling.mailbox.CommandAccepted);
    EXPECT_EQ(ParametersOf("W18"), (std::vector<std::string>{"00041", "00042"}));
}

}  // namespace
}  // namespace corvane3
