// Units behind a real ser2net (Debian's package) on a loopback port, telnet with RFC 2217 or raw
// TCP, in front of the simulated instrument on a pseudo-terminal: bytes, line settings, polling,
// a serial reconfiguration, auto-detect, and the server going away mid-run.

#include <termios.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <numeric>
#include <set>

#include "core/link/NetworkPortName.h"
#include "core/poll/PollingThread.h"
#include "core/poll/SerialReconfiguration.h"
#include "sim/PseudoTerminal.h"
#include "sim/SimulatorServer.h"
#include "support/ChildProcess.h"
#include "support/RecordingSink.h"
#include "support/Ser2NetServer.h"
#include "support/SimClient.h"
#include "support/SimulatedUnit.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

using ::testing::HasSubstr;
using namespace std::chrono_literals;

TEST(NetworkPortE2ETest, EveryByteValuePassesBothWaysAndRfc2217SetsTheRemoteLine) {
    std::string all(256, '\0');
    std::iota(all.begin(), all.end(), '\0');  // every byte value once
    for (const bool rfc2217 : {true, false}) {
        testing::TempDir dir;
        CPseudoTerminal pty;
        ASSERT_TRUE(pty.IsOpen());
        testing::Ser2NetServer server(dir.Path(), pty.SlavePath(), rfc2217);
        ASSERT_TRUE(server.Started());
        CLinkStatus status;
        CSerialPort port(status);
        port.SetSettings({server.PortName(), 19200, kParityEven, kStopBitsOne, 8});
        ASSERT_TRUE(port.OpenPort()) << port.LastOpenError();
        ASSERT_TRUE(port.ConfigurePort());
        ASSERT_TRUE(port.WriteBytes(all));
        EXPECT_EQ(pty.ReadCount(all.size(), 10s), all) << server.PortName();
        ASSERT_TRUE(pty.Write(all));
        std::string got;
        EXPECT_TRUE(port.ReadBytes(all.size(), got));
        EXPECT_EQ(got, all) << server.PortName();
        termios tio{};
        ASSERT_EQ(::tcgetattr(pty.MasterFd(), &tio), 0);
        // ser2net opened the device at 9600 baud, odd parity, two stop bits (by now, the bytes
        // have passed).
        EXPECT_EQ(::cfgetospeed(&tio), rfc2217 ? B19200 : B9600);
        EXPECT_EQ(tio.c_cflag & (PARODD | CSTOPB), rfc2217 ? 0u : (PARODD | CSTOPB));
        EXPECT_EQ(port.LineChangeProblem().empty(), rfc2217);
    }
}

class RecordingMessages : public ITimedMessageSink,
                          public testing::WaitableLog<std::pair<std::string, std::string>> {
  public:
    void ShowTimedMessage(const std::string& text, const std::string& title) override {
        Add({text, title});
    }
};

// The polling thread on a ser2net port in front of an in-process simulator.
class NetworkPollingTest : public ::testing::Test {
  protected:
    void Start(bool rfc2217, const std::string& ser2netLine = "9600o72",
               sim::LineSettings unitLine = {}) {
        sim::SimulatorOptions options = testing::QuickOptions(403);
        options.link = dir_.Path() / "unit";
        options.instrument.line = unitLine;
        options.instrument.password = 42;
        sim_ = std::make_unique<sim::CSimulatorServer>(options);
        ASSERT_TRUE(sim_->IsOpen()) << sim_->Error();
        server_ = std::make_unique<testing::Ser2NetServer>(dir_.Path(), options.link.string(),
                                                           rfc2217, ser2netLine);
        ASSERT_TRUE(server_->Started());
        port_.SetSettings({server_->PortName(), 9600, kParityOdd, kStopBitsTwo, 7});
        PollingHooks hooks;
        hooks.listPorts = [this] { return std::vector<std::string>{server_->PortName()}; };
        hooks.reconfigureSerial = [this](PollContext& context) {
            ReconfigureSerial(context, rs232_, messages_);
        };
        settings_.PollingInterval = kMinPollingInterval;
        thread_ = std::make_unique<CPollingThread>(port_, unit_, status_, shared_, settings_, sink_,
                                                   hooks);
        thread_->ChangeLog().SetDirectory(dir_.Path().string());
        thread_->StartBackgroundThread();
    }
    void TearDown() override {
        if (thread_) {
            EXPECT_TRUE(thread_->StopBackgroundThread());
        }
    }
    void Reconfigure(std::uint32_t password) {
        messages_.Clear();
        shared_.SerialReconfigurationParameter = password;
        shared_.SetRequest(ERequest::kSerialReconfiguration);
    }
    sim::LineSettings UnitLine() {
        return sim_->WithInstrument([](sim::CSimulatedInstrument& unit) { return unit.Line(); });
    }

    testing::TempDir dir_;
    CLinkStatus status_;
    testing::StatusLog log_{status_};
    CSerialPort port_{status_};
    CUnitState unit_;
    CPollingShared shared_;
    CProgramSettings settings_;
    testing::RecordingSink sink_;
    RecordingMessages messages_;
    SerialLineSettings rs232_{"ignored", 19200, kParityEven, kStopBitsOne, 8};
    std::unique_ptr<sim::CSimulatorServer> sim_;
    std::unique_ptr<testing::Ser2NetServer> server_;
    std::unique_ptr<CPollingThread> thread_;
};

TEST_F(NetworkPollingTest, Rfc2217ReconfigurationMovesBothSides) {
    Start(true);
    ASSERT_TRUE(sink_.WaitForCount(kNotifyStatusRecord, 1));
    Reconfigure(42);
    ASSERT_TRUE(
        messages_.WaitForCount({"Serial port settings modified", "Serial Port Settings"}, 1));
    sink_.Clear();
    // Records come again only when ser2net has moved the simulator's line too.
    ASSERT_TRUE(sink_.WaitForCount(kNotifyStatusRecord, 2));
    EXPECT_EQ(UnitLine(), (sim::LineSettings{19200, 8, 'E', 1}));
    EXPECT_EQ(port_.Settings().baudRate, 19200u);
}

TEST_F(NetworkPollingTest, RawTcpRecordsButRefusesAReconfigurationWithItsReason) {
    Start(false);
    ASSERT_TRUE(sink_.WaitForCount(kNotifyStatusRecord, 2));
    sim_->ClearFrames();
    Reconfigure(42);
    ASSERT_TRUE(messages_.WaitUntil([](const auto& shown) { return shown.size() >= 2; }));
    EXPECT_THAT(messages_.Items()[0].first, HasSubstr("raw TCP port cannot change"));
    EXPECT_EQ(messages_.Items()[1].first, "Serial port settings NOT modified");
    sink_.Clear();
    ASSERT_TRUE(sink_.WaitForCount(kNotifyStatusRecord, 1));
    EXPECT_EQ(sim_->WaitForFrame("C05", 0s), std::nullopt);
    EXPECT_EQ(UnitLine(), (sim::LineSettings{9600, 7, 'O', 2}));
    // Auto-detect leaves the port alone and says why.
    shared_.AutoDetect = true;
    ASSERT_TRUE(sink_.WaitForCount(kNotifyAutoDetectNotFound, 1));
    EXPECT_TRUE(log_.Texts().WaitForCount(server_->PortName() + ": " + kRawTcpLineFixed, 1));
    EXPECT_EQ(port_.Settings().baudRate, 9600u);
}

TEST_F(NetworkPollingTest, AutoDetectFindsAUnitOnAnotherLineThroughRfc2217) {
    shared_.AutoDetect = true;
    Start(true, "9600o72", sim::LineSettings{19200, 7, 'O', 2});
    ASSERT_TRUE(sink_.WaitForCount(kNotifyAutoDetectFound, 1, 120s));
    EXPECT_EQ(port_.Settings(),
              (SerialLineSettings{server_->PortName(), 19200, kParityOdd, kStopBitsTwo, 7}));
}

// corvane3 --headless on a ser2net port: the same records as on the device, and a ser2net that
// stops mid-run: the link goes down with its reason and comes back, no record lost or doubled.
TEST(NetworkProgramTest, HeadlessRecordsThroughSer2NetAndRidesOutItsRestart) {
    testing::TempDir dir;
    const testing::SimulatedUnit unit(dir.Path());
    ASSERT_TRUE(unit.Started());
    const auto run = [&](const std::string& port, const std::string& records, int polls) {
        return std::make_unique<testing::ChildProcess>(testing::HeadlessArguments(
            dir.Path(), port,
            {"--polls", std::to_string(polls), "--record", (dir.Path() / records).string()}));
    };
    {
        auto direct = run(unit.Link(), "direct", 2);
        EXPECT_EQ(direct->Wait(), 0) << direct->ReadAll();
    }
    testing::Ser2NetServer server(dir.Path(), unit.Link(), true);
    ASSERT_TRUE(server.Started());
    auto headless = run(server.PortName(), "network", 5);
    std::string output = headless->ReadThrough("MJD ");
    ASSERT_NE(output.find("MJD "), std::string::npos) << output;
    server.Stop();
    const std::string down = server.PortName() + ": Connection";
    output += headless->ReadThrough(down);
    ASSERT_NE(output.find(down), std::string::npos) << output;
    ASSERT_TRUE(server.Start());
    output += headless->ReadAll();
    ASSERT_EQ(headless->Wait(), 0) << output;
    EXPECT_EQ(testing::Occurrences(output, "\nMJD "), 5u) << output;

    const auto direct = testing::CsdLines(dir.Path() / "direct" / "Unit1234.csd");
    const auto network = testing::CsdLines(dir.Path() / "network" / "Unit1234.csd");
    ASSERT_EQ(direct.size(), 3u);
    ASSERT_EQ(network.size(), 6u);
    EXPECT_EQ(network[0], direct[0]);
    const std::set<std::string> times(network.begin() + 1, network.end());
    EXPECT_EQ(times.size(), 5u);
    for (const std::string& record : network) {
        EXPECT_EQ(testing::Columns(record), testing::Columns(direct[1])) << record;
    }
}

}  // namespace
}  // namespace corvane3
