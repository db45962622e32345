#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "poll/PollingThread.h"
#include "sim/PseudoTerminal.h"
#include "support/RecordingSink.h"

namespace corvane3 {
namespace {

using ::testing::ElementsAre;

// Status lines that come from the link state machine rather than from the port.
std::vector<std::string> LinkLines(const std::vector<std::string>& lines) {
    std::vector<std::string> kept;
    for (const std::string& line : lines) {
        if (!line.starts_with("RS232")) {
            kept.push_back(line);
        }
    }
    return kept;
}

TEST(PollingThreadSilenceTest, SilentUnitGivesFourNotRespondingThenAResetAndStopEndsTheThread) {
    CPseudoTerminal pty;  // nobody answers
    ASSERT_TRUE(pty.IsOpen());
    CLinkStatus status;
    testing::StatusLog log(status);
    CSerialPort port(status);
    port.SetSettings({pty.SlavePath(), 9600, kParityOdd, kStopBitsTwo, 7});
    CUnitState unit;
    CPollingShared shared;
    CProgramSettings settings;
    testing::RecordingSink sink;
    CPollingThread thread(port, unit, status, shared, settings, sink);

    thread.StartBackgroundThread();
    ASSERT_TRUE(log.WaitForCount("Unit Not Responding", 5, std::chrono::seconds(60)));
    ASSERT_TRUE(thread.StopBackgroundThread());
    EXPECT_FALSE(thread.IsRunning());

    const std::vector<std::string> lines = LinkLines(log.Lines());
    ASSERT_GE(lines.size(), 6u);
    EXPECT_THAT(std::vector<std::string>(lines.begin(), lines.begin() + 6),
                ElementsAre("Unit Not Responding", "Unit Not Responding", "Unit Not Responding",
                            "Unit Not Responding", "Resetting", "Unit Not Responding"));
    EXPECT_FALSE(unit.Online);
    // The first frames on the wire: the two start commands, then the identity poll.
    const std::string sent = pty.Read(std::chrono::seconds(1));
    EXPECT_EQ(sent.rfind("\x02"
                         "A15 00000 0\x03"
                         "\x02"
                         "T*2 00000 \x03"
                         "\x02"
                         "T*2 00000 \x03"
                         "\x02"
                         "D*2 00000 \x03",
                         0),
              0u);
}

}  // namespace
}  // namespace corvane3
