#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/poll/PollingThread.h"
#include "sim/PseudoTerminal.h"
#include "support/RecordingSink.h"

namespace corvane3 {
namespace {

// A unit that never answers and a port that cannot be opened both give four "Unit Not
// Responding" passes and a reset on the fifth; a missing port is tried again only then.
TEST(PollingThreadSilenceTest, SilentUnitOrMissingPortGiveFourNotRespondingThenAReset) {
    CPseudoTerminal pty;  // nobody answers
    ASSERT_TRUE(pty.IsOpen());
    for (const std::string& path : {pty.SlavePath(), std::string("/dev/corvane3-no-such-port")}) {
        const bool missing = path != pty.SlavePath();
        CLinkStatus status;
        testing::StatusLog log(status);
        CSerialPort port(status);
        port.SetSettings({path, 9600, kParityOdd, kStopBitsTwo, 7});
        CUnitState unit;
        CPollingShared shared;
        CProgramSettings settings;
        testing::RecordingSink sink;
        CPollingThread thread(port, unit, status, shared, settings, sink);

        thread.StartBackgroundThread();
        ASSERT_TRUE(log.WaitForCount(ELinkState::kUnitNotResponding, 5, std::chrono::seconds(60)));
        ASSERT_TRUE(thread.StopBackgroundThread());
        EXPECT_FALSE(thread.IsRunning());
        EXPECT_FALSE(unit.Online);
        // A missing port is reopened only by the reset of the fifth pass.
        std::vector<ELinkState> expected = {
            ELinkState::kUnitNotResponding, ELinkState::kUnitNotResponding,
            ELinkState::kUnitNotResponding, ELinkState::kUnitNotResponding,
            ELinkState::kResetting,         ELinkState::kUnitNotResponding};
        if (missing) {
            expected.insert(expected.begin(),
                            {ELinkState::kRs232Reset, ELinkState::kRs232OpenFailed});
            expected.insert(expected.end() - 1,
                            {ELinkState::kRs232Reset, ELinkState::kRs232OpenFailed});
        }
        // For a silent unit, only the lines of the link state machine, not those of the port.
        std::vector<ELinkState> lines = log.Lines();
        if (!missing) {
            std::erase_if(lines, [](ELinkState state) {
                return state == ELinkState::kRs232Open || state == ELinkState::kRs232OpenFailed ||
                       state == ELinkState::kRs232Configured || state == ELinkState::kRs232Reset;
            });
        }
        ASSERT_GE(lines.size(), expected.size());
        EXPECT_EQ(std::vector<ELinkState>(lines.begin(), lines.begin() + expected.size()),
                  expected);
        if (missing) {
            continue;
        }
        // The first frames on the wire: the two start commands, then the identity poll.
        const std::string sent = pty.Read(std::chrono::seconds(1));
        EXPECT_EQ(sent.rfind("\x02"
                             "A15 00000 0\x03\x02T*2 00000 \x03\x02T*2 00000 \x03\x02"
                             "D*2 00000 \x03",
                             0),
                  0u);
    }
}

}  // namespace
}  // namespace corvane3
