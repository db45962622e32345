#include "core/link/SerialPort.h"

#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <thread>
#include <tuple>

#include "core/link/SerialDevice.h"
#include "support/ForbiddenPort.h"
#include "support/PortFixture.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;
using SerialPortTest = testing::PortFixture;
using SerialPortOpenTest = testing::PortFixture;

TEST_F(SerialPortTest, ShortReadsReturnWhatArrivedAndFailAndSevenBitsStripTheHighBit) {
    std::string got = "old";
    EXPECT_FALSE(port_.ReadBytes(4, got));  // silence
    EXPECT_EQ(got, "");

    ASSERT_TRUE(pty_.Write(std::string(120, 'A')));
    EXPECT_FALSE(port_.ReadBytes(250, got));  // a gap after 120 bytes
    EXPECT_EQ(got, std::string(120, 'A'));

    // Seven data bits strip the high bit and eight keep it.
    ASSERT_TRUE(pty_.Write("\xC1"));
    ASSERT_TRUE(port_.ReadBytes(1, got));
    EXPECT_EQ(got, "\x41");

    OpenWith(8);
    ASSERT_TRUE(pty_.Write("\xC1"));
    ASSERT_TRUE(port_.ReadBytes(1, got));
    EXPECT_EQ(got, "\xC1");

    pty_.Close();
    EXPECT_FALSE(port_.ReadBytes(10, got));  // the peer has gone: at once, nothing
    EXPECT_EQ(got, "");
}

TEST_F(SerialPortTest, ResetDrainsReopensAndReconfiguresEvenWhileThePeerKeepsTalking) {
    std::atomic<bool> talking{true};
    std::thread peer([&] {
        while (talking) {
            pty_.Write("chatter\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    EXPECT_TRUE(port_.ResetPort());
    talking = false;
    peer.join();
    EXPECT_TRUE(port_.IsOpen());
    EXPECT_THAT(log_.Lines(), ElementsAre(ELinkState::kRs232Reset, ELinkState::kRs232Open,
                                          ELinkState::kRs232Configured));
}

TEST_F(SerialPortTest, SettingsAndStateAreAnsweredWhileAReadIsWaiting) {
    // The interface thread asks for these while the polling thread sits in a timed read; they
    // must not wait for it. The read below lasts about 6 s unless its bytes arrive, and they
    // are only written once the calls have returned.
    constexpr std::size_t kCount = 500;
    port_.ClosePort();
    auto read = std::async(std::launch::async, [&] {
        std::string got;
        return port_.ReadBytes(kCount, got);  // reopens first; then reads
    });
    ASSERT_TRUE(log_.WaitForCount(ELinkState::kRs232Configured, 1));
    SerialLineSettings line = port_.Settings();
    line.baudRate = 19200;
    port_.SetSettings(line);
    EXPECT_TRUE(port_.IsOpen());
    EXPECT_EQ(port_.LastOpenError(), "");
    ASSERT_TRUE(pty_.Write(std::string(kCount, 'x')));
    EXPECT_TRUE(read.get());
    EXPECT_EQ(port_.Settings().baudRate, 19200u);
}

TEST_F(SerialPortOpenTest, OnlyTerminalDevicesAreOpenedAndAMissingOneIsReopenedOncePerUse) {
    testing::TempDir dir;
    const std::string file = (dir.Path() / "file").string();
    std::ofstream(file) << "not a port\n";
    const std::string missing = "/dev/corvane3-no-such-port";
    // /dev/null and a FIFO are refused alike: the program's own end-to-end tests try them.
    const std::pair<std::string, std::string> cases[] = {
        {file, kNotASerialPort}, {pty_.SlavePath(), ""}, {missing, kPortNotPresent}};
    for (const auto& [path, error] : cases) {
        log_.Clear();
        port_.SetSettings({path, 9600, kParityOdd, kStopBitsTwo, 7});
        EXPECT_EQ(port_.OpenPort(), error.empty()) << path;
        EXPECT_EQ(port_.IsOpen(), error.empty()) << path;
        EXPECT_EQ(port_.LastOpenError(), error) << path;
        EXPECT_THAT(log_.Lines(), ElementsAre(error.empty() ? ELinkState::kRs232Open
                                                            : ELinkState::kRs232OpenFailed));
    }
    // Every later use of the missing port tries one reopen and fails.
    log_.Clear();
    std::string got;
    EXPECT_FALSE(port_.ReadBytes(1, got));
    EXPECT_FALSE(port_.WriteBytes("x"));
    EXPECT_TRUE(port_.ResetPort());  // always true, even though the reopen failed
    EXPECT_THAT(log_.Lines(), ElementsAre(ELinkState::kRs232Reset, ELinkState::kRs232OpenFailed,
                                          ELinkState::kRs232Reset, ELinkState::kRs232OpenFailed,
                                          ELinkState::kRs232Reset, ELinkState::kRs232OpenFailed));
}

// Only a group the user has not joined may open the port: the user is told which group to join,
// unless the group is root's or could not open it either.
TEST_F(SerialPortOpenTest, ARefusedPortNamesTheGroupToJoinWhenJoiningItWouldHelp) {
    const std::optional<gid_t> serialGroup = testing::GroupId(testing::kSerialGroup);
    if (!serialGroup || !testing::NobodysFileAccess().Active()) {
        GTEST_SKIP() << "needs root and the group " << testing::kSerialGroup
                     << ": a refusal is made by opening as nobody a port only a group may open";
    }
    const std::string advice = "Permission denied: add your user to the group " +
                               std::string(testing::kSerialGroup) + " and log in again";
    const std::tuple<gid_t, mode_t, std::string> cases[] = {
        {*serialGroup, 0660, advice},
        {*serialGroup, 0640, "Permission denied"},  // the group may not write: joining is no use
        {0, 0660, "Permission denied"},
    };
    for (const auto& [group, mode, error] : cases) {
        CPseudoTerminal pty;
        ASSERT_TRUE(testing::GiveDevice(pty.SlavePath(), group, mode));
        port_.SetSettings({pty.SlavePath(), 9600, kParityOdd, kStopBitsTwo, 7});
        testing::NobodysFileAccess nobody;
        EXPECT_FALSE(port_.OpenPort());
        EXPECT_EQ(port_.LastOpenError(), error) << group << " " << mode;
    }
}

TEST(SerialPortNameTest, ComNamesMapToTtySDevices) {
    EXPECT_EQ(CSerialPort::DevicePathForName("COM1"), "/dev/ttyS0");
    EXPECT_EQ(CSerialPort::DevicePathForName("com12"), "/dev/ttyS11");
    EXPECT_EQ(CSerialPort::DevicePathForName("COM0"), "COM0");
    EXPECT_EQ(CSerialPort::DevicePathForName("/dev/pts/3"), "/dev/pts/3");
}

TEST(EnumerateComPortsTest, ListsRealUartsAndUsbAdaptersOnly) {
    testing::TempDir sys;
    const auto add = [&](const std::string& name, bool device, const char* type) {
        std::filesystem::create_directories(sys.Path() / name);
        if (device) {
            std::filesystem::create_directories(sys.Path() / name / "device");
        }
        if (type != nullptr) {
            std::ofstream(sys.Path() / name / "type") << type << "\n";
        }
    };
    add("ttyS0", true, "4");
    add("ttyS1", true, "0");  // a slot with no UART
    add("ttyUSB0", true, nullptr);
    add("ttyACM2", true, nullptr);
    add("tty1", false, nullptr);  // a virtual console: no device entry
    add("ttyS9", false, "4");     // not a device
    std::vector<std::string> ports{"stale"};
    EnumerateComPorts(ports, sys.Path(), "/dev");
    EXPECT_THAT(ports, UnorderedElementsAre("/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyACM2"));
}

}  // namespace
}  // namespace corvane3
