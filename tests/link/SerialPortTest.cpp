#include "link/SerialPort.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "support/PortFixture.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;
using SerialPortTest = testing::PortFixture;

TEST_F(SerialPortTest, ReadThatStopsAfterAGapReturnsWhatArrived) {
    ASSERT_TRUE(pty_.Write(std::string(120, 'A')));
    std::string got;
    EXPECT_FALSE(port_.ReadBytes(250, got));
    EXPECT_EQ(got, std::string(120, 'A'));
}

TEST_F(SerialPortTest, SilentPeerGivesAFailedEmptyRead) {
    std::string got = "old";
    EXPECT_FALSE(port_.ReadBytes(4, got));
    EXPECT_EQ(got, "");
}

TEST_F(SerialPortTest, SevenDataBitsStripTheHighBitAndEightKeepIt) {
    std::string got;
    ASSERT_TRUE(pty_.Write("\xC1"));
    ASSERT_TRUE(port_.ReadBytes(1, got));
    EXPECT_EQ(got, "\x41");

    OpenWith(8);
    ASSERT_TRUE(pty_.Write("\xC1"));
    ASSERT_TRUE(port_.ReadBytes(1, got));
    EXPECT_EQ(got, "\xC1");
}

TEST_F(SerialPortTest, WritesReachThePeer) {
    ASSERT_TRUE(
        port_.WriteBytes("\x02"
                         "C10 00000 \x03"));
    EXPECT_EQ(pty_.ReadCount(12, std::chrono::seconds(2)),
              "\x02"
              "C10 00000 \x03");
}

TEST_F(SerialPortTest, WriteAfterThePeerHasGoneFailsAndResetsThePort) {
    pty_.Close();
    EXPECT_FALSE(port_.WriteBytes("x"));
    // Whether the reopen then fails depends on the terminal number not being reused at once.
    EXPECT_THAT(log_.Lines(), ::testing::Contains("RS232 Reset"));
}

TEST_F(SerialPortTest, ReadAfterThePeerHasGoneFailsAtOnce) {
    pty_.Close();
    std::string got;
    EXPECT_FALSE(port_.ReadBytes(10, got));
    EXPECT_EQ(got, "");
}

TEST(SerialPortOpenTest, MissingDeviceGivesOpenFailedAndEveryLaterUseRetriesAndFails) {
    CLinkStatus status;
    testing::StatusLog log(status);
    CSerialPort port(status);
    SerialLineSettings line;
    line.name = "/dev/corvane3-no-such-port";
    port.SetSettings(line);
    EXPECT_FALSE(port.OpenPort());
    EXPECT_THAT(log.Lines(), ElementsAre("RS232 open failed"));

    log.Clear();
    std::string got;
    EXPECT_FALSE(port.ReadBytes(1, got));
    EXPECT_THAT(log.Lines(), ElementsAre("RS232 Reset", "RS232 open failed"));

    log.Clear();
    EXPECT_FALSE(port.WriteBytes("x"));
    EXPECT_THAT(log.Lines(), ::testing::IsSupersetOf({"RS232 Reset", "RS232 open failed"}));
    EXPECT_TRUE(port.ResetPort());  // always true, even though the reopen failed
}

TEST_F(SerialPortTest, ResetEndsEvenWhileThePeerKeepsTalking) {
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
    EXPECT_THAT(log_.Lines(), ElementsAre("RS232 Reset", "RS232 Open", "RS232 Configured Ok"));
}

TEST(SerialPortOpenTest, ResetReopensAndReconfigures) {
    CPseudoTerminal pty;
    CLinkStatus status;
    testing::StatusLog log(status);
    CSerialPort port(status);
    SerialLineSettings line;
    line.name = pty.SlavePath();
    port.SetSettings(line);
    ASSERT_TRUE(pty.Write("stale"));
    EXPECT_TRUE(port.ResetPort());
    EXPECT_THAT(log.Lines(), ElementsAre("RS232 Reset", "RS232 Open", "RS232 Configured Ok"));
    EXPECT_TRUE(port.IsOpen());
}

TEST(SerialPortNameTest, ComNamesMapToTtySDevices) {
    EXPECT_EQ(CSerialPort::DevicePathForName("COM1"), "/dev/ttyS0");
    EXPECT_EQ(CSerialPort::DevicePathForName("com12"), "/dev/ttyS11");
    EXPECT_EQ(CSerialPort::DevicePathForName("COM0"), "COM0");
    EXPECT_EQ(CSerialPort::DevicePathForName("COMX"), "COMX");
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
    add("tty1", false, nullptr);
    add("ttyS9", false, "4");  // not a device
    std::vector<std::string> ports{"stale"};
    EnumerateComPorts(ports, sys.Path(), "/dev");
    EXPECT_THAT(ports, UnorderedElementsAre("/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyACM2"));
}

}  // namespace
}  // namespace corvane3
