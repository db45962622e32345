// The password prompt and the authorise-send-check sequence without a polling thread: nothing
// serves the mailbox, so a test sees exactly what was handed over; and what counts as a run of
// settings commands that went through.

#include "gui/security/AuthorizeDlg.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <tuple>

#include "core/link/CommandCodes.h"
#include "core/link/CommandFrame.h"
#include "gui/security/AuthorizedCommand.h"
#include "gui/settings/CommandSequence.h"
#include "support/ModalDialogDriver.h"
#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

using namespace std::chrono_literals;
using Messages = std::vector<testing::ModalDialogDriver::Message>;

const MailboxCommand kClearEventLog{.code = CommandCode(ECommand::kClearEventLog),
                                    .replyLimit = 32};

class AuthorizeDlgTest : public testing::WidgetTest {
  protected:
    void SetUp() override {
        unit_.InstrumentModel = kModelTq9000;
        shared_.SecurityStatus = true;
    }
    ECommandOutcome Send(CommandWait wait = kBriefCommandWait) {
        return SendProtectedCommand(shared_, unit_, kClearEventLog, "Event Log Notification",
                                    nullptr, wait);
    }
    CPollingShared shared_;
    CUnitState unit_;
};

TEST_F(AuthorizeDlgTest, PromptAcceptsPasswordsFrom1To99999ReadAsDecimalsAndRefusesTheRest) {
    const std::pair<const char*, std::uint32_t> kCases[] = {
        {"1", 1},       {"99999", 99999}, {"00042", 42},
        {" 42abc", 42}, {"0", 0},         {"100000", 0},
        {"abc", 0},     {"-42", 0},       {"99999999999999999999999", 0}};  // 0: refused
    for (const auto& [text, password] : kCases) {
        testing::ModalDialogDriver driver;
        CAuthorize prompt;
        auto* edit = prompt.findChild<QLineEdit*>("password");
        edit->setText("left over");
        prompt.show();
        EXPECT_TRUE(edit->text().isEmpty());
        EXPECT_FALSE(prompt.findChild<QPushButton*>("apply")->isEnabled());
        edit->setText(text);
        prompt.findChild<QPushButton*>("apply")->click();
        EXPECT_EQ(prompt.isVisible(), password == 0) << text;
        EXPECT_EQ(prompt.Password(), password) << text;
        const Messages refusal{{"Security Notification", "Password must be between 1-99999"}};
        EXPECT_EQ(driver.Messages(), password != 0 ? Messages() : refusal) << text;
        EXPECT_TRUE(password != 0 || edit->text().isEmpty()) << text;
    }
}

TEST_F(AuthorizeDlgTest, ACancelledPromptSendsNothing) {
    testing::ModalDialogDriver driver([](QDialog& prompt) { prompt.reject(); });
    EXPECT_FALSE(ProtectedCommandParameter(shared_, unit_, nullptr).has_value());
    EXPECT_EQ(Send(), ECommandOutcome::kCancelled);
    EXPECT_EQ(driver.Dialogs(), 2);
    EXPECT_FALSE(shared_.mailbox.IsPending());
}

TEST_F(AuthorizeDlgTest, UnfinishedCommandIsNotTakenForAcceptedNorDropped) {
    unit_.InstrumentModel = kModelChronoBeam;  // no prompt
    shared_.mailbox.CommandAccepted = true;    // left over from an earlier command
    testing::ModalDialogDriver driver;
    EXPECT_EQ(Send(), ECommandOutcome::kRefused);
    EXPECT_EQ(driver.Messages(), (Messages{{"Event Log Notification", "Password not Accepted"}}));
    MailboxCommand pending;
    ASSERT_TRUE(shared_.mailbox.TakePending(pending));
    EXPECT_EQ(std::tie(pending.code, pending.parameter),
              std::make_tuple("W18", kFactoryAccessOption));
    EXPECT_EQ(Send(), ECommandOutcome::kBusy);

    // A finished command is not taken again; waiting until done says so when the limit passes.
    shared_.mailbox.Finish();
    EXPECT_FALSE(shared_.mailbox.TakePending(pending));
    EXPECT_EQ(Send({50ms, true}), ECommandOutcome::kNotFinished);
    ASSERT_EQ(driver.Messages().size(), 2u);
    EXPECT_EQ(driver.Messages()[1].title, "Event Log Notification");
    EXPECT_NE(driver.Messages()[1].text, "Password not Accepted");
}

// A dialog closes with success only when every command of its run was accepted; a run that sent
// nothing changed nothing and is never reported as done.
TEST(CommandSequenceTest, OnlyARunWhoseEveryCommandWasAcceptedWentThrough) {
    using O = EStepOutcome;
    const std::pair<std::vector<O>, bool> cases[] = {
        {{}, false},
        {{O::kAccepted}, true},
        {{O::kAccepted, O::kAccepted}, true},
        {{O::kAccepted, O::kRefused, O::kNotSent}, false},
        {{O::kUnanswered}, false},
        {{O::kAccepted, O::kNotUnderstood}, false},
    };
    for (const auto& [outcomes, wentThrough] : cases) {
        EXPECT_EQ(SequenceResult{outcomes}.AllAccepted(), wentThrough) << outcomes.size();
    }
}

}  // namespace
}  // namespace corvane3
