// The Security dialog against the simulated instrument with the real polling thread: what the
// unit receives, and what the user is told.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include "core/poll/PollingThread.h"
#include "gui/common/QueuedNotificationSink.h"
#include "gui/mainwin/MainStatusDlg.h"
#include "gui/security/SecurityDlg.h"
#include "sim/SimulatorServer.h"
#include "support/ModalDialogDriver.h"
#include "support/SimFrames.h"
#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

using namespace std::chrono_literals;
using Messages = std::vector<testing::ModalDialogDriver::Message>;
using testing::ProcessEventsUntil;

// The dialog waits this long for the polling thread, so that a slow machine cannot turn an
// accepted password into a refused one.
constexpr std::chrono::milliseconds kPatientWait = 30s;

QLineEdit* Edit(QWidget& dialog, const char* name) {
    return dialog.findChild<QLineEdit*>(name);
}
void Click(QWidget& dialog, const char* button) {
    dialog.findChild<QAbstractButton*>(button)->click();
}

using SecurityWithSimTest = testing::WidgetTest;

TEST_F(SecurityWithSimTest, APasswordIsSetFromTheMenuAndOnlyTheRightOneDisablesSecurity) {
    sim::SimulatorOptions options;
    options.instrument.model = kModelChronoBeam;
    options.instrument.warmup = 0ms;
    sim::CSimulatorServer sim(options);
    ASSERT_TRUE(sim.IsOpen()) << sim.Error();
    Corvane3App app;
    app.serialPort.SetSettings({sim.SlavePath(), 9600, kParityOdd, kStopBitsTwo, 7});
    CQueuedNotificationSink notifications;
    CPollingThread polling(app.serialPort, app.unitState, app.linkStatus, app.polling, app.settings,
                           notifications);
    const auto password = [&] {
        return sim.WithInstrument([](sim::CSimulatedInstrument& unit) { return unit.Password(); });
    };
    const auto parametersOf = [&](const std::string& code) {
        return testing::SentFields(sim, code, &sim::ReceivedFrame::parameter);
    };
    CMainStatusDlg window(app, notifications, &polling);
    ASSERT_TRUE(ProcessEventsUntil(
        [&] { return app.unitState.Online && app.unitState.InstrumentModel == 401; }));

    // No password yet: a new one, once its confirmation matches.
    bool mismatchSentNothing = false;
    {
        testing::ModalDialogDriver driver([&](QDialog& dialog) {
            Edit(dialog, "newPassword")->setText("123");
            Edit(dialog, "confirmPassword")->setText("124");
            Click(dialog, "apply");
            mismatchSentNothing = dialog.isVisible() && parametersOf("C08").empty();
            Edit(dialog, "confirmPassword")->setText("123");
            Click(dialog, "apply");
        });
        window.RunCommand(kCmdSecurity);
        EXPECT_EQ(driver.Messages(),
                  (Messages{{"Confirm Password", "Confirm Password does not match"},
                            {"Security Settings", "Security Modified"}}));
    }
    EXPECT_TRUE(mismatchSentNothing);
    const std::optional<sim::ReceivedFrame> frame = sim.WaitForFrame("C08", 10s);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->data, "00123");
    EXPECT_EQ(frame->parameter, "00000");
    EXPECT_EQ(password(), 123u);

    // Protected now: disabling takes the current password, and only the right one.
    testing::ModalDialogDriver driver;
    CSecurity dialog(app.polling, nullptr, kPatientWait);
    dialog.show();
    const auto disableWith = [&](const char* current) {
        Edit(dialog, "currentPassword")->setText(current);
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
    EXPECT_TRUE(Edit(dialog, "currentPassword")->text().isEmpty());
    EXPECT_TRUE(Edit(dialog, "currentPassword")->isEnabled());
    EXPECT_FALSE(dialog.findChild<QPushButton*>("apply")->isEnabled());
    disableWith("123");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(parametersOf("C09"), (std::vector<std::string>{"00122", "00123"}));
    EXPECT_EQ(password(), 0u);
    EXPECT_TRUE(polling.StopBackgroundThread());
}

}  // namespace
}  // namespace corvane3
