// The polling thread against the simulated instrument on a pseudo-terminal: the frames it
// sends, the notifications and status lines it gives, and how it rides out faults.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "core/link/CommandCodes.h"
#include "core/link/CommandFrame.h"
#include "core/poll/SerialReconfiguration.h"
#include "sim/PseudoTerminal.h"
#include "sim/StatusRecords.h"
#include "support/PollingRig.h"
#include "support/SimClient.h"
#include "support/TelemetryTestData.h"

namespace corvane3 {
namespace {

using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::Field;
using ::testing::Optional;
using ::testing::Pair;
using namespace std::chrono_literals;
using Frame = sim::ReceivedFrame;

class RecordingMessages : public ITimedMessageSink,
                          public testing::WaitableLog<std::pair<std::string, std::string>> {
  public:
    void ShowTimedMessage(const std::string& text, const std::string& title) override {
        Add({text, title});
    }
};

class PollingThreadTest : public testing::PollingRig {
  protected:
    // Starts a simulator (answering at once, no warm-up) and the polling thread on its link.
    void Start(int model, const std::function<void(sim::SimulatorOptions&)>& adjust = {}) {
        sim::SimulatorOptions options = testing::QuickOptions(model);
        if (adjust) {
            adjust(options);
        }
        PollingHooks hooks;
        hooks.listPorts = [this] {
            return std::vector<std::string>{(dir_.Path() / "unit").string()};
        };
        hooks.reconfigureSerial = [this](PollContext& context) {
            ReconfigureSerial(context, rs232_, messages_);
        };
        StartPolling(options, hooks);
    }

    RecordingMessages messages_;
    SerialLineSettings rs232_;
};

TEST_F(PollingThreadTest, Tq9000StartIdentificationAndPollInOrder) {
    Start(403);
    // The Factory access field goes to a 401 only.
    EXPECT_THAT(sim_->WaitForFrame("A24", kEventBound),
                Optional(Field(&Frame::parameter, "00000")));
    EXPECT_THAT(sim_->WaitForFrame("A15", kEventBound), Optional(Field(&Frame::data, "0")));
    const std::vector<std::string> codes = sim_->Codes();
    ASSERT_GE(codes.size(), 12u);
    EXPECT_THAT(std::vector<std::string>(codes.begin(), codes.begin() + 12),
                ElementsAre("A15", "T*2", "T*2", "D*2", "C03", "B21", "D*1", "D*2", "D*5", "B20",
                            "A24", "A08"));
    EXPECT_EQ(unit_.InstrumentModel, 403);
    EXPECT_TRUE(log_.WaitForCount(ELinkState::kPollDone, 1, kEventBound));
}

TEST_F(PollingThreadTest, Model7730APollsOnlyD1AndD2AndZeroesTheOutliers) {
    // A 7730A reports its model as "ver", which the identity poll cannot read: the unit is
    // taken for a 7750 until its first D*2 record says otherwise.
    sim::D2Values d2;
    d2.sweepText = "US";
    std::string reply = sim::BuildD2Record(d2).replace(135, 3, "ver");
    unit_.Update([](UnitStateData& data) { data.outliers.burpsTotal = 7; });
    Start(404, [&](sim::SimulatorOptions& options) { options.overrides.Add("D*2", reply); });
    EXPECT_THAT(sim_->Codes(), ElementsAre("A15", "T*2", "T*2", "D*2", "C03", "D*1", "D*2"));
    EXPECT_EQ(unit_.InstrumentModel, kModel7730A);
    EXPECT_EQ(unit_.Snapshot().outliers.burpsTotal, 0);
    EXPECT_TRUE(unit_.Snapshot().instrumentSweep);
    EXPECT_TRUE(log_.WaitForCount(ELinkState::kPollDone, 1, kEventBound));
}

TEST_F(PollingThreadTest, TwoRequestsSetTogetherRunOnTwoPassesInTableOrder) {
    settings_.PollingEnabled = false;
    Start(403);
    ASSERT_TRUE(log_.Texts().WaitForCount("DCC Version...OK", 1));
    sim_->ClearFrames();
    shared_.SetRequest(ERequest::kDccTelecom);
    shared_.SetRequest(ERequest::kEventLog);
    ASSERT_TRUE(sink_.WaitForCount(kNotifyTelecomFetched, 1));
    EXPECT_THAT(sim_->Codes(), ElementsAre("D*3", "B30", "B31"));
    const std::vector<int> codes = sink_.Codes();
    EXPECT_LT(std::ranges::find(codes, kNotifyEventLogFetched),
              std::ranges::find(codes, kNotifyTelecomFetched));
    const QueryResults results = shared_.Results.Snapshot();
    EXPECT_FALSE(results.eventLog.empty());
    EXPECT_TRUE(results.telecom.t1Present && results.telecom.e1Present);
}

TEST_F(PollingThreadTest, DiagnosticsModeListensInsteadOfPollingButServesTheMailbox) {
    settings_.PollingInterval = kMinPollingInterval;
    // A test line now and then, as a real unit prints them; the mailbox reply comes between.
    Start(403, [](sim::SimulatorOptions& options) { options.instrument.testLineInterval = 300ms; });
    ASSERT_TRUE(shared_.mailbox.TrySend({.code = CommandCode(ECommand::kTestMode1),
                                         .data = "1",
                                         .parameter = kFactoryAccessOption,
                                         .replyLimit = kDiagnosticsReplyLimit,
                                         .notificationCode = kNotifyDiagnosticsDone}));
    ASSERT_TRUE(sink_.WaitForCount(kNotifyDiagnosticsDone, 1));
    shared_.DiagnosticsMode = kDiagnosticsA01;
    sim_->ClearFrames();
    ASSERT_TRUE(sink_.WaitForCount(kNotifyDiagnosticLine, 3));
    EXPECT_TRUE(shared_.Response.Get().ends_with(kLf));

    ASSERT_TRUE(shared_.mailbox.TrySend({.code = CommandCode(ECommand::kGetSecurityStatus),
                                         .replyLimit = kOrdinaryReplyLimit,
                                         .notificationCode = kNotifyCatalogueReply}));
    ASSERT_TRUE(sink_.WaitForCount(kNotifyCatalogueReply, 1));
    // Lines for longer than a polling interval (one every 300 ms), and no poll between them.
    ASSERT_TRUE(
        sink_.WaitForCount(kNotifyDiagnosticLine, 3 + 2 * kMinPollingInterval * 1000 / 300));
    EXPECT_THAT(sim_->Codes(), ElementsAre("C10"));

    shared_.DiagnosticsMode = kDiagnosticsA01 | kDiagnosticsEnd;
    EXPECT_THAT(sim_->WaitForFrame("A01", 10s), Optional(Field(&Frame::data, "0")));
    ASSERT_TRUE(sink_.WaitForCount(kNotifyStatusRecord, 2));  // polling again
    EXPECT_EQ(shared_.DiagnosticsMode, 0u);
}

// A command is sent on the next pass while the unit answers, however long it had to wait for
// the port; one that cannot be sent within the limit because the unit is silent is withdrawn.
TEST_F(PollingThreadTest, MailboxCommandsAreSentRefusedOrWithdrawn) {
    settings_.PollingInterval = kMinPollingInterval;  // a silent unit is noticed soon
    Start(402, [](sim::SimulatorOptions& options) { options.instrument.password = 42; });
    const MailboxCommand command{.code = CommandCode(ECommand::kClearEventLog),
                                 .replyLimit = kOrdinaryReplyLimit,
                                 .notificationCode = kNotifyCatalogueReply};
    shared_.mailbox.CommandAccepted = true;
    ASSERT_TRUE(shared_.mailbox.TrySend(command));
    ASSERT_TRUE(sink_.WaitForCount(kNotifyCatalogueReply, 1));  // posted although refused
    EXPECT_FALSE(shared_.mailbox.CommandAccepted);
    EXPECT_TRUE(IsRefusal(shared_.Response.Get()));
    {
        // A long exchange holds the port for longer than the send limit.
        std::lock_guard exchange(port_.ExchangeMutex());
        ASSERT_TRUE(shared_.mailbox.TrySend({.code = CommandCode(ECommand::kClearEventLog),
                                             .parameter = 42,
                                             .replyLimit = kOrdinaryReplyLimit,
                                             .notificationCode = kNotifyCatalogueReply}));
        std::this_thread::sleep_for(kCommandSendLimit + 500ms);
    }
    ASSERT_TRUE(sink_.WaitForCount(kNotifyCatalogueReply, 2));
    EXPECT_TRUE(shared_.mailbox.CommandAccepted);
    EXPECT_EQ(sim_->Frames().back().parameter, "00042");
    EXPECT_EQ(shared_.mailbox.WithdrawnCount(), 0u);

    sim_->UpdateFaults([](sim::SimFaults& faults) { faults.silent = true; });
    ASSERT_TRUE(log_.WaitForCount(ELinkState::kUnitNotResponding, 1));
    sim_->ClearFrames();
    ASSERT_TRUE(shared_.mailbox.TrySend(
        {.code = CommandCode(ECommand::kGetSecurityStatus), .replyLimit = kOrdinaryReplyLimit}));
    ASSERT_TRUE(sink_.WaitForCount(kNotifyCommandWithdrawn, 1, 60s));
    EXPECT_EQ(shared_.mailbox.LastWithdrawnCode(), "C10");
    EXPECT_FALSE(shared_.mailbox.IsPending());

    sim_->UpdateFaults([](sim::SimFaults& faults) { faults.silent = false; });
    ASSERT_TRUE(log_.WaitForCount(ELinkState::kUnitOnline, 2));
    ASSERT_TRUE(shared_.mailbox.TrySend(command));  // a later command goes out at once
    ASSERT_TRUE(sink_.WaitForCount(kNotifyCatalogueReply, 3));
    EXPECT_THAT(sim_->Codes(), ::testing::Not(::testing::Contains("C10")));
    // The silent unit failed a poll ("Error"); the link came back through the identity poll.
    const std::vector<ELinkState> lines = log_.Lines();
    EXPECT_NE(std::find(std::ranges::find(lines, ELinkState::kPollFailed), lines.end(),
                        ELinkState::kResetting),
              lines.end());
}

TEST(PollScheduleTest, PollsStayOneIntervalApartWhateverThePassesTake) {
    using Clock = CPollSchedule::Clock;
    const Clock::time_point start{};
    CPollSchedule schedule;
    // Passes 250 ms apart, each poll taking 1.3 s: the polls still come every 10 s.
    std::vector<Clock::duration> polls;
    for (Clock::time_point now = start; polls.size() < 6; now += 250ms) {
        if (schedule.TakeDue(now, 10s)) {
            polls.push_back(now - start);
            now += 1300ms;
        }
    }
    for (std::size_t i = 0; i < polls.size(); ++i) {
        EXPECT_GE(polls[i], i * 10s);
        EXPECT_LT(polls[i], i * 10s + 1550ms) << i;
    }
    // The countdown in whole seconds, rounded up; a new interval counts at once.
    const Clock::time_point last = start + 50s;
    EXPECT_EQ(schedule.SecondsLeft(last + 250ms, 10s), 10);
    EXPECT_EQ(schedule.SecondsLeft(last + 9500ms, 10s), 1);
    EXPECT_EQ(schedule.SecondsLeft(last + 1s, 2s), 1);
    // After a long outage one poll, not a burst of them; the schedule starts again from there.
    EXPECT_TRUE(schedule.TakeDue(last + 95s, 10s));
    EXPECT_FALSE(schedule.TakeDue(last + 104s, 10s));
    EXPECT_TRUE(schedule.TakeDue(last + 105s, 10s));
}

TEST_F(PollingThreadTest,
       SerialReconfigurationNeedsThePasswordAndAnUnderstoodReplyToMoveBothSides) {
    settings_.PollingInterval = kMinPollingInterval;
    Start(403, [](sim::SimulatorOptions& options) { options.instrument.password = 42; });
    rs232_ = {"ignored", 19200, kParityEven, kStopBitsOne, 8};
    const auto reconfigureWith = [&](std::uint32_t password) {
        messages_.Clear();
        shared_.SerialReconfigurationParameter = password;
        shared_.SetRequest(ERequest::kSerialReconfiguration);
    };
    reconfigureWith(41);
    ASSERT_TRUE(messages_.WaitUntil([](const auto& shown) { return shown.size() >= 2; }));
    EXPECT_THAT(messages_.Items(),
                ElementsAre(Pair("Password not Accepted", "Serial Port Settings"),
                            Pair("Serial port settings NOT modified", "Serial Port Settings")));
    EXPECT_THAT(sim_->WaitForFrame("C05", kEventBound),
                Optional(Field(&Frame::data, "19200,8,E,1")));
    EXPECT_EQ(port_.Settings().baudRate, 9600u);
    EXPECT_TRUE(log_.WaitForCount(ELinkState::kPasswordFailed, 1, kEventBound));
    // The password went with that one command only.
    EXPECT_EQ(shared_.SerialReconfigurationParameter, 0u);

    // A unit that did not understand the command changed nothing: neither does the PC.
    sim_->SetOverride("C05", {std::string("\x02") + "C05 ?\r\n\x03"});
    reconfigureWith(42);
    ASSERT_TRUE(messages_.WaitUntil([](const auto& shown) { return !shown.empty(); }));
    EXPECT_THAT(messages_.Items(),
                ElementsAre(Pair("Serial port settings NOT modified", "Serial Port Settings")));
    EXPECT_EQ(port_.Settings().baudRate, 9600u);
    EXPECT_FALSE(shared_.PortReset);
    sim_->SetOverride("C05", {});

    log_.Clear();
    reconfigureWith(42);
    ASSERT_TRUE(
        messages_.WaitForCount({"Serial port settings modified", "Serial Port Settings"}, 1));
    // The port keeps its name and takes the line settings; the link comes back on them.
    EXPECT_EQ(port_.Settings(), (SerialLineSettings{(dir_.Path() / "unit").string(), 19200,
                                                    kParityEven, kStopBitsOne, 8}));
    sink_.Clear();
    ASSERT_TRUE(sink_.WaitForCount(kNotifyStatusRecord, 1));
    EXPECT_EQ(sim_->WithInstrument([](sim::CSimulatedInstrument& unit) { return unit.Line(); }),
              (sim::LineSettings{19200, 8, 'E', 1}));
    const std::vector<ELinkState> lines = log_.Lines();
    const auto password = std::find(lines.begin(), lines.end(), ELinkState::kPasswordOk);
    ASSERT_NE(password, lines.end());
    EXPECT_THAT(std::vector<ELinkState>(password, password + 3),
                ElementsAre(ELinkState::kPasswordOk, ELinkState::kWaitingForInstrument,
                            ELinkState::kChangingPcLine));
    // Both attempts are in the change log, without their passwords.
    const std::vector<std::string> changes = testing::FileLines(dir_.Path() / kChangeLogFileName);
    EXPECT_THAT(changes, ElementsAre(EndsWith("\tC05\t19200,8,E,1\tpassword\trefused"),
                                     EndsWith("\tC05\t19200,8,E,1\tpassword\tnot understood"),
                                     EndsWith("\tC05\t19200,8,E,1\tpassword\taccepted")));
}

// A unit that never answers and a port that cannot be opened both give four "Unit Not
// Responding" passes and a reset on the fifth; a missing port is tried again only then.
using PollingThreadSilenceTest = testing::PollingRig;

TEST_F(PollingThreadSilenceTest, SilentUnitOrMissingPortGiveFourNotRespondingThenAReset) {
    CPseudoTerminal pty;  // nobody answers
    ASSERT_TRUE(pty.IsOpen());
    for (const std::string& path : {pty.SlavePath(), std::string("/dev/corvane3-no-such-port")}) {
        const bool missing = path != pty.SlavePath();
        log_.Clear();
        port_.SetSettings({path, 9600, kParityOdd, kStopBitsTwo, 7});
        CPollingThread thread(port_, unit_, status_, shared_, settings_, sink_);

        thread.StartBackgroundThread();
        ASSERT_TRUE(log_.WaitForCount(ELinkState::kUnitNotResponding, 5, std::chrono::seconds(60)));
        ASSERT_TRUE(thread.StopBackgroundThread());
        EXPECT_FALSE(unit_.Online);
        // A missing port is reopened only by the reset of the fifth pass.
        using enum ELinkState;
        std::vector<ELinkState> expected(4, kUnitNotResponding);
        expected.insert(expected.end(), {kResetting, kUnitNotResponding});
        if (missing) {
            expected.insert(expected.begin(), {kRs232Reset, kRs232OpenFailed});
            expected.insert(expected.end() - 1, {kRs232Reset, kRs232OpenFailed});
        }
        // For a silent unit, only the lines of the link state machine, not those of the port.
        std::vector<ELinkState> lines = log_.Lines();
        if (!missing) {
            std::erase_if(lines, [](ELinkState state) {
                return state == kRs232Open || state == kRs232OpenFailed ||
                       state == kRs232Configured || state == kRs232Reset;
            });
        }
        ASSERT_GE(lines.size(), expected.size());
        EXPECT_EQ(std::vector<ELinkState>(lines.begin(), lines.begin() + expected.size()),
                  expected);
    }
}

// A search asked for runs once: the request is cleared when it ends, and polling goes on.
TEST_F(PollingThreadTest, AnAutoDetectRequestIsClearedWhenItsSearchEnds) {
    shared_.AutoDetect = true;
    Start(403);
    ASSERT_TRUE(sink_.WaitForCount(kNotifyAutoDetectFound, 1, kEventBound));
    sink_.Clear();
    ASSERT_TRUE(sink_.WaitForCount(kNotifyStatusRecord, 1, kEventBound));
    EXPECT_FALSE(shared_.AutoDetect);
}

}  // namespace
}  // namespace corvane3
