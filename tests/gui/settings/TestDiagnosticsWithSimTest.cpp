// The Test Diagnostics dialog against the simulated instrument: each test's end goes out once.

#include <gtest/gtest.h>

#include "gui/mainwin/MainMenus.h"
#include "support/DialogControls.h"
#include "support/ModalDialogDriver.h"
#include "support/SimFrames.h"
#include "support/SimWindowRig.h"

namespace corvane3 {
namespace {

using testing::ProcessEventsUntil;
using testing::SentFields;
using Strings = std::vector<std::string>;

// Ended with its own button, a test's "0" is sent once, not again by the thread's own end.
TEST(TestDiagnosticsWithSimTest, ATestEndedWithItsOwnButtonIsEndedOnce) {
    testing::SimWindowRig rig(testing::ModelOptions(kModelTq9000));
    ASSERT_TRUE(rig.online);
    sim::CSimulatorServer& sim = rig.Sim();
    const auto settled = [&] {
        return !rig.app.polling.mailbox.IsPending() && rig.app.polling.DiagnosticsMode == 0;
    };
    testing::RunAsUser(*rig.window, kCmdTestDiagnostics, [&](QDialog& dialog) {
        testing::Click(dialog, "test1");
        EXPECT_TRUE(ProcessEventsUntil([&] { return SentFields(sim, "A01") == Strings{"1"}; }));
        EXPECT_TRUE(ProcessEventsUntil([&] { return !rig.app.polling.mailbox.IsPending(); }));
        testing::Click(dialog, "test1");
        EXPECT_TRUE(ProcessEventsUntil(settled));
        testing::Choose(dialog, "ddsStep", "End Test");
        testing::Click(dialog, "setDds");
        EXPECT_TRUE(ProcessEventsUntil(settled));
        dialog.accept();
    });
    EXPECT_TRUE(ProcessEventsUntil(settled));
    EXPECT_EQ(SentFields(sim, "A01"), (Strings{"1", "0"}));
    EXPECT_EQ(SentFields(sim, "A02"), Strings{"0"});
}

}  // namespace
}  // namespace corvane3
