// A trace of the program's serial traffic, taken through its own port, masks passwords and is
// answered back by the simulator's replay exactly as the unit answered.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "core/link/SerialTrace.h"
#include "core/link/TrafficLog.h"
#include "sim/ReplayScript.h"
#include "support/SimClient.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3::testing {
namespace {

using namespace std::chrono_literals;

TEST(TraceReplay, ATraceMasksPasswordsAndItsReplayAnswersAsTheUnitDid) {
    TempDir dir;
    const auto tracePath = dir.Path() / "unit.trace";
    sim::SimulatorOptions options = QuickOptions(403);
    options.instrument.password = 4321;
    std::vector<std::string> recorded;
    {
        SimClient client(options);
        ASSERT_TRUE(client.Opened());
        auto trace = std::make_shared<CSerialTrace>();
        ASSERT_TRUE(trace->Open(tracePath));
        client.Port().SetTrace(trace);
        // With a unit whose user password is 4321: status records, a password change to 98765
        // and the version query twice.
        recorded = {client.Exchange("D*1"), client.Exchange("C08", 4321, "98765"),
                    client.Exchange("C03"), client.Exchange("D*1"), client.Exchange("C03")};
        client.Port().SetTrace(nullptr);
        trace->Close();
    }
    ASSERT_FALSE(recorded[0].empty());
    ASSERT_EQ(JudgeReply(recorded[1]), EReplyVerdict::kAccepted) << recorded[1];

    // One RX line per frame (written in three pieces), one TX line per reply; neither password
    // appears anywhere in the file, not even in the unit's echo of the parameter field.
    const std::string text = FileText(tracePath);
    EXPECT_EQ(text.find("4321"), std::string::npos) << text;
    EXPECT_EQ(text.find("98765"), std::string::npos) << text;
    std::vector<TrafficEntry> entries;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const auto entry = ParseTrafficLine(line);
        ASSERT_TRUE(entry) << line;
        entries.push_back(*entry);
    }
    ASSERT_EQ(entries.size(), 10u) << text;
    EXPECT_EQ(entries[2].direction, ETrafficDirection::kReceived);
    EXPECT_EQ(entries[2].bytes,
              "\x02"
              "C08 ***** *****\x03");
    std::vector<std::string> traced = recorded;
    traced[1].replace(5, 5, "*****");
    for (std::size_t i = 0; i < recorded.size(); ++i) {
        EXPECT_EQ(entries[2 * i].direction, ETrafficDirection::kReceived);
        EXPECT_EQ(entries[2 * i + 1].direction, ETrafficDirection::kSent);
        EXPECT_EQ(entries[2 * i + 1].bytes, traced[i]);
    }

    // Replayed, the password change is answered as recorded (its echo masked, which changes no
    // judgement), whatever password the program sends.
    std::string error;
    options = QuickOptions(401);
    options.replay = sim::CReplayScript::Load(tracePath, error);
    ASSERT_TRUE(options.replay) << error;
    SimClient replayed(options);
    ASSERT_TRUE(replayed.Opened());
    EXPECT_EQ(replayed.Exchange("C08", 1, "2"), traced[1]);
    EXPECT_EQ(JudgeReply(traced[1]), EReplyVerdict::kAccepted);
}

TEST(TraceReplay, LinesOfLineOrientedOutputAreLinesOfTheirOwnButAReplysEndStaysWhole) {
    TempDir dir;
    CSerialTrace trace;
    ASSERT_TRUE(trace.Open(dir.Path() / "sweep.trace"));
    trace.Written(
        "\x02"
        "A05 00000 ");
    trace.Written("\x03");
    for (const char* piece : {"12,3\r\n1", "3,4\r", "\n",
                              "\x02"
                              "A05 00000 done\r\n",
                              "\x03"}) {
        trace.Read(piece);
    }
    trace.Note("port reset");
    trace.Read("late");
    trace.Close();
    std::vector<std::string> lines = FileLines(dir.Path() / "sweep.trace");
    std::ranges::for_each(lines, [](std::string& line) { line.erase(0, 24); });  // the time stamp
    EXPECT_EQ(lines, (std::vector<std::string>{"RX \\x02A05 00000 \\x03", "TX 12,3\\r\\n",
                                               "TX 13,4\\r\\n", "TX \\x02A05 00000 done\\r\\n\\x03",
                                               "-- port reset", "TX late"}));
}

TEST(TraceReplay, TheScriptKeepsRepliesInOrderWithTheirPausesAndRefusesOtherText) {
    // Pieces of one reply, a frame never answered, a note and output before the first frame.
    std::string error;
    auto script = sim::CReplayScript::Parse(
        "2026-01-31T23:59:59.900 TX \\x02early\\x03\n"
        "2026-01-31T23:59:59.950 RX \\x02A05 00000 \\x03\n"
        "2026-02-01T00:00:00.150 TX line 1\\n\n"
        "2026-02-01T00:00:01.150 TX line 2\\n\n"
        "2026-02-01T00:00:01.200 -- port reset\n"
        "2026-02-01T00:00:02.000 RX \\x02A05 00000 \\x03\n"
        "\n"
        "2026-02-01T00:00:03.000 RX \\x02D*1 00000 \\x03\r\n",
        error);
    ASSERT_TRUE(script) << error;
    EXPECT_EQ(script->FrameCount(), 3u);
    const auto first = script->Next("A05");
    ASSERT_TRUE(first);
    ASSERT_EQ(first->size(), 2u);
    EXPECT_EQ((*first)[0].bytes, "line 1\n");
    EXPECT_EQ((*first)[0].pauseBefore, 200ms);  // across midnight and a month's end
    EXPECT_EQ((*first)[1].pauseBefore, 1000ms);
    EXPECT_EQ(script->Next("A05"), sim::ReplayReply{});
    EXPECT_EQ(script->Next("A05"), sim::ReplayReply{});
    EXPECT_EQ(script->Next("D*1"), sim::ReplayReply{});
    EXPECT_FALSE(script->Next("C03"));

    for (const char* bad : {"2026-02-01T00:00:00.000 XX \\x02\n", "2026-02-01 00:00:00.000 RX a\n",
                            "2026-13-01T00:00:00.000 RX a\n", "RX \\x02D*1\\x03\n"}) {
        EXPECT_FALSE(sim::CReplayScript::Parse(std::string("\n") + bad, error)) << bad;
        EXPECT_EQ(error, "line 2 is not a transcript line") << bad;
    }
}

}  // namespace
}  // namespace corvane3::testing
