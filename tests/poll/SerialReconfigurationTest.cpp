// Moving the instrument and the PC's port to new line settings with C05, against the simulated
// instrument.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "poll/PollingThread.h"
#include "poll/SerialReconfiguration.h"
#include "sim/SimulatorServer.h"
#include "support/RecordingSink.h"

namespace corvane3 {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;
using namespace std::chrono_literals;

TEST(SerialParametersTextTest, FormatsBaudDataBitsParityLetterAndStopBits) {
    const auto text = [](std::uint32_t baud, std::uint32_t data, std::uint32_t parity,
                         std::uint32_t stop) {
        return SerialParametersText({"COM1", baud, parity, stop, data});
    };
    EXPECT_EQ(text(19200, 7, kParityOdd, kStopBitsTwo), "19200,7,O,2");
    EXPECT_EQ(text(9600, 8, kParityNone, kStopBitsOne), "9600,8,N,1");
    EXPECT_EQ(text(2400, 8, kParityEven, kStopBitsOne), "2400,8,E,1");
    // Codes the instrument has no letter for go as no parity; one and a half stop bits as two.
    EXPECT_EQ(text(4800, 7, kParityMark, kStopBitsOneAndHalf), "4800,7,N,2");
}

class RecordingMessages : public ITimedMessageSink,
                          public testing::WaitableLog<std::pair<std::string, std::string>> {
  public:
    void ShowTimedMessage(const std::string& text, const std::string& title) override {
        Add({text, title});
    }
};

class SerialReconfigurationTest : public ::testing::Test {
  protected:
    void Start(unsigned password) {
        sim::SimulatorOptions options;
        options.instrument.model = 403;
        options.instrument.warmup = 0ms;
        options.instrument.password = password;
        sim_ = std::make_unique<sim::CSimulatorServer>(options);
        ASSERT_TRUE(sim_->IsOpen()) << sim_->Error();
        port_.SetSettings({sim_->SlavePath(), 9600, kParityOdd, kStopBitsTwo, 7});
        settings_.PollingInterval = kMinPollingInterval;
        PollingHooks hooks;
        hooks.reconfigureSerial = [this](PollContext& context) {
            ReconfigureSerial(context, rs232_, messages_);
        };
        thread_ = std::make_unique<CPollingThread>(port_, unit_, status_, shared_, settings_, sink_,
                                                   hooks);
        thread_->StartBackgroundThread();
        ASSERT_TRUE(sink_.WaitForCount(kNotifyStatusRecord, 1));
    }
    void TearDown() override {
        if (thread_) {
            EXPECT_TRUE(thread_->StopBackgroundThread());
        }
    }
    void Reconfigure(std::uint32_t parameter) {
        shared_.SerialReconfigurationParameter = parameter;
        shared_.SetRequest(Request::kSerialReconfiguration);
    }

    CLinkStatus status_;
    testing::StatusLog log_{status_};
    CSerialPort port_{status_};
    CUnitState unit_;
    CPollingShared shared_;
    CProgramSettings settings_;
    testing::RecordingSink sink_;
    RecordingMessages messages_;
    SerialLineSettings rs232_{"", 19200, kParityOdd, kStopBitsTwo, 7};
    std::unique_ptr<sim::CSimulatorServer> sim_;
    std::unique_ptr<CPollingThread> thread_;
};

TEST_F(SerialReconfigurationTest, TheUnitMovesAndThePortFindsItAgainAtTheNewSpeed) {
    Start(0);
    rs232_ = {"ignored", 19200, kParityEven, kStopBitsOne, 8};
    Reconfigure(0);
    const auto frame = sim_->WaitForFrame("C05", 10s);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->data, "19200,8,E,1");
    EXPECT_EQ(frame->parameter, "00000");

    ASSERT_TRUE(
        messages_.WaitForCount({"Serial port settings modified", "Serial Port Settings"}, 1));
    // The port keeps its name and takes the line settings; the link comes back on them.
    EXPECT_EQ(port_.Settings(),
              (SerialLineSettings{sim_->SlavePath(), 19200, kParityEven, kStopBitsOne, 8}));
    sink_.Clear();
    ASSERT_TRUE(sink_.WaitForCount(kNotifyStatusRecord, 1));
    EXPECT_TRUE(unit_.Online);
    sim_->WithInstrument([](sim::CSimulatedInstrument& unit) {
        EXPECT_EQ(unit.Line().baudRate, 19200u);
        EXPECT_EQ(unit.Line().parity, 'E');
    });
    const std::vector<std::string> lines = log_.Lines();
    const auto password = std::find(lines.begin(), lines.end(), "Password OK");
    ASSERT_NE(password, lines.end());
    EXPECT_THAT(std::vector<std::string>(password, password + 3),
                ElementsAre("Password OK", "Waiting for instrument", "Changing PC RS232"));
}

TEST_F(SerialReconfigurationTest, AWrongPasswordChangesNeitherSide) {
    Start(42);
    Reconfigure(41);
    ASSERT_TRUE(messages_.WaitUntil([](const auto& shown) { return shown.size() >= 2; }));
    EXPECT_THAT(messages_.Items(),
                ElementsAre(Pair("Password not Accepted", "Serial Port Settings"),
                            Pair("Serial port settings NOT modified", "Serial Port Settings")));
    EXPECT_EQ(sim_->WaitForFrame("C05", 1s)->parameter, "00041");
    EXPECT_EQ(port_.Settings().baudRate, 9600u);
    sim_->WithInstrument(
        [](sim::CSimulatedInstrument& unit) { EXPECT_EQ(unit.Line().baudRate, 9600u); });
    EXPECT_TRUE(log_.WaitForCount("Password Fail", 1, 1s));
    // The password went with that one command only.
    EXPECT_EQ(shared_.SerialReconfigurationParameter, 0u);
}

}  // namespace
}  // namespace corvane3
