// The Security dialog against the simulated instrument with the real polling thread: what the
// unit receives, and what the user is told.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include "gui/security/SecurityDlg.h"
#include "support/DialogControls.h"
#include "support/ModalDialogDriver.h"
#include "support/SimFrames.h"
#include "support/SimWindowRig.h"

namespace corvane3 {
namespace {

using namespace std::chrono_literals;
using Messages = std::vector<testing::ModalDialogDriver::Message>;
using testing::ProcessEventsUntil;

// The dialog waits this long for the polling thread, so that a slow machine cannot turn an
// accepted password into a refused one.
constexpr std::chrono::milliseconds kPatientWait = 30s;

using testing::Click;
using testing::Find;

using SecurityWithSimTest = testing::WidgetTest;

TEST_F(SecurityWithSimTest, APasswordIsSetFromTheMenuAndOnlyTheRightOneDisablesSecurity) {
    testing::SimWindowRig rig(testing::ModelOptions(kModelChronoBeam));
    ASSERT_TRUE(rig.online);
    sim::CSimulatorServer& sim = rig.Sim();
    const auto password = [&] {
        return sim.WithInstrument([](sim::CSimulatedInstrument& unit) { return unit.Password(); });
    };
    const auto parametersOf = [&](const std::string& code) {
        return testing::SentFields(sim, code, &sim::ReceivedFrame::parameter);
    };

    // No password yet: a new one, once its confirmation matches.
    bool mismatchSentNothing = false;
    const Messages told = testing::RunAsUser(*rig.window, kCmdSecurity, [&](QDialog& dialog) {
        Find<QLineEdit>(dialog, "newPassword")->setText("123");
        Find<QLineEdit>(dialog, "confirmPassword")->setText("124");
        Click(dialog, "apply");
        mismatchSentNothing = dialog.isVisible() && parametersOf("C08").empty();
        Find<QLineEdit>(dialog, "confirmPassword")->setText("123");
        Click(dialog, "apply");
    });
    EXPECT_EQ(told, (Messages{{"Confirm Password", "Confirm Password does not match"},
                              {"Security Settings", "Security Modified"}}));
    EXPECT_TRUE(mismatchSentNothing);
    const std::optional<sim::ReceivedFrame> frame = sim.WaitForFrame("C08", 10s);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->data, "00123");
    EXPECT_EQ(frame->parameter, "00000");
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
    EXPECT_EQ(parametersOf("C09"), (std::vector<std::string>{"00122", "00123"}));
    EXPECT_EQ(password(), 0u);
}

}  // namespace
}  // namespace corvane3
