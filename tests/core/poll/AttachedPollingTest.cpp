// The polling thread of a window attached to the logging service: it sends only what the
// window asks for, through the service, and hands the service what ends the unit's temporary
// states before they begin.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "core/control/ServicePort.h"
#include "core/link/CommandCodes.h"
#include "core/poll/PollingThread.h"
#include "core/spectrum/SpectrumAcquisition.h"
#include "support/RecordingSink.h"
#include "support/ScriptedRelay.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

using Log = std::vector<std::string>;

class AttachedPollingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        unit_.Online = true;  // as the service's link state says
        PollingHooks hooks;
        spectrum_.InstallHooks(hooks);
        hooks.relay = &relay_;
        thread_ = std::make_unique<CPollingThread>(port_, unit_, status_, shared_, settings_,
                                                   sink_, hooks);
        thread_->ChangeLog().SetDirectory(dir_.Path().string());
        thread_->StartBackgroundThread();
    }
    void TearDown() override { EXPECT_TRUE(thread_->StopBackgroundThread()); }

    // Waits until the service has seen line after everything it had seen before.
    bool WaitFor(const std::string& line) {
        const std::size_t seen = relay_.Items().size();
        return relay_.WaitUntil([&](const Log& log) {
            return std::find(log.begin() + static_cast<std::ptrdiff_t>(std::min(seen, log.size())),
                             log.end(), line) != log.end();
        });
    }
    std::ptrdiff_t Position(const std::string& line) {
        const Log log = relay_.Items();
        return std::find(log.begin(), log.end(), line) - log.begin();
    }

    testing::TempDir dir_;
    CLinkStatus status_;
    testing::StatusLog statusLog_{status_};
    CServicePort port_{status_};
    CUnitState unit_;
    CPollingShared shared_;
    CProgramSettings settings_;
    testing::RecordingSink sink_;
    testing::ScriptedRelay relay_;
    CSpectrumAcquisition spectrum_{shared_, settings_};
    std::unique_ptr<CPollingThread> thread_;
};

// The service polls, checks the unit and keeps the change log: the window's thread adds no
// exchange of its own and writes no log line, whatever passes it runs.
TEST_F(AttachedPollingTest, OnlyTheWindowsCommandsGoAndTheServiceLogsThem) {
    // Each sender waits until the thread is done with the command before.
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(shared_.mailbox.SendWaiting({.code = CommandCode(ECommand::kClearEventLog),
                                                 .parameter = 42,
                                                 .replyLimit = kOrdinaryReplyLimit,
                                                 .notificationCode = kNotifyCatalogueReply},
                                                std::chrono::seconds(30)));
    }
    ASSERT_TRUE(sink_.WaitForCount(kNotifyCatalogueReply, 3));
    EXPECT_EQ(relay_.Items(), Log(3, "relay W18  etx 42 256"));
    EXPECT_EQ(shared_.CommandReply.Get(), "\x02W18 00000\x03");
    EXPECT_TRUE(shared_.mailbox.CommandAccepted);
    EXPECT_TRUE(std::filesystem::is_empty(dir_.Path()));
    EXPECT_EQ(std::ranges::count(sink_.Codes(), kNotifyStatusRecord), 0);
}

// A window killed while the unit sweeps or tests cannot end it itself: the service gets the
// closing commands before the first command of the state, and polls are held while a sweep runs.
TEST_F(AttachedPollingTest, ClosingCommandsAndHoldsReachTheServiceBeforeTheStateBegins) {
    spectrum_.Open(ESweepMode::kHost);
    ASSERT_TRUE(WaitFor("relay A04 47DC59E4762D none 131072 0"));  // the opening word
    EXPECT_LT(Position("closing A02 0"), Position("relay A04 47DC59E4762D none 131072 0"));

    shared_.DiagnosticsMode = kDiagnosticsA01;
    ASSERT_TRUE(WaitFor("closing A02 0 A01 0"));
    ASSERT_TRUE(sink_.WaitForCount(kNotifyDiagnosticLine, 1));  // lines read through the service

    shared_.SweepActive = true;  // no run of the spectrum's: its step ends the sweep at once
    ASSERT_TRUE(WaitFor("release"));
    EXPECT_LT(Position("hold"), Position("release"));

    ASSERT_TRUE(WaitFor("relay   lf 0 255"));  // that pass's sweep step is over
    relay_.refusal = "The sweep is held by bob.";
    shared_.SweepActive = true;
    ASSERT_TRUE(statusLog_.Texts().WaitForCount("The sweep is held by bob.", 1));
    EXPECT_FALSE(shared_.SweepActive);

    spectrum_.Close();
    ASSERT_TRUE(WaitFor("closing A01 0"));
    EXPECT_LT(Position("relay A02 0 etx 131072 64"), Position("closing A01 0"));
    ASSERT_TRUE(thread_->StopBackgroundThread());
    const Log log = relay_.Items();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "relay A01 0 lf 131072 256");  // the test ended as the window closed
    EXPECT_EQ(log.back(), "closing");  // and nothing is left for the service to send
}

}  // namespace
}  // namespace corvane3
