#include "core/link/TolvexLink.h"

#include <gtest/gtest.h>

#include <tuple>

#include "core/link/CommandFrame.h"
#include "core/link/StatusRecords.h"
#include "sim/StatusRecords.h"
#include "support/PortFixture.h"
#include "support/ScriptedRelay.h"

namespace corvane3 {
namespace {

class TolvexLinkTest : public testing::PortFixture {
  protected:
    CUnitState unit_;
    CTolvexLink link_{port_, unit_.InstrumentModel};
};

TEST_F(TolvexLinkTest, SendCmdWritesHeadDataAndEtxAndResetsThePortOnceThePeerHasGone) {
    ASSERT_TRUE(link_.SendCmd("W00", 12345, "+0020"));
    EXPECT_EQ(pty_.ReadCount(17, std::chrono::seconds(2)), "\x02W00 12345 +0020\x03");
    pty_.Close();
    EXPECT_FALSE(link_.SendCmd("C10", 0, ""));
    // The failed write has reset the port.
    EXPECT_EQ(log_.Lines().at(0), ELinkState::kRs232Reset);
}

TEST_F(TolvexLinkTest, GetResponseReadsUpToTheTerminatorTheLimitOrSilence) {
    ASSERT_TRUE(
        pty_.Write("\x02"
                   "C10 00000 3\x03"
                   "NEXT\n0123456789"));
    const std::tuple<char, int, bool, std::string> steps[] = {
        {0, kOrdinaryReplyLimit, true, "untouched"},  // terminator 0 reads nothing
        {kEtx, kOrdinaryReplyLimit, true,
         "\x02"
         "C10 00000 3\x03"},
        {kLf, kOrdinaryReplyLimit, true, "NEXT\n"},  // the rest stayed queued
        {kEtx, kDdsReadbackLimit, false, "012345"},
        {kEtx, kOrdinaryReplyLimit, false, "6789"},  // what arrived before the silence
    };
    for (const auto& [terminator, limit, ok, expected] : steps) {
        std::string reply = "untouched";
        EXPECT_EQ(link_.GetResponse(reply, terminator, limit), ok) << expected;
        EXPECT_EQ(reply, expected);
    }
}

TEST_F(TolvexLinkTest, ShortD1ReplyChangesNothing) {
    ASSERT_TRUE(pty_.Write(sim::BuildD1Record({}).substr(0, kD1ReplyLength - 1)));
    EXPECT_FALSE(ReadD1Record(link_, unit_));
    EXPECT_EQ(pty_.ReadCount(12, std::chrono::seconds(2)),
              "\x02"
              "D*1 00000 \x03");
    EXPECT_EQ(unit_.Snapshot().d1.serialNumber, 0u);
}

// Attached to the logging service, a command and its reply are one exchange, so that nothing of
// the service's can come between them; a command whose reply is not read goes alone.
using RelayedTolvexLinkTest = TolvexLinkTest;

TEST_F(RelayedTolvexLinkTest, CommandAndReplyGoAsOneExchangeAndLoneCommandsAreFlushed) {
    testing::ScriptedRelay relay;
    std::string reply;
    {
        CTolvexLink link(port_, unit_.InstrumentModel, relay);
        ASSERT_TRUE(link.SendCmd("C05", 12345, "1"));
        EXPECT_TRUE(relay.Items().empty());
        EXPECT_TRUE(link.GetResponse(reply, kEtx, 64));
        EXPECT_EQ(reply, "\002C05 00000\003");
        EXPECT_TRUE(link.GetResponse(reply, kLf, 80));  // a line read alone
        EXPECT_TRUE(link.SendCmd("A01", 0, "0"));
        EXPECT_TRUE(link.SendCmd("A02", 0, ""));     // the first goes alone now
        EXPECT_TRUE(link.GetResponse(reply, 0, 0));  // reads nothing: still held
        EXPECT_TRUE(link.FlushHeldCommand());
        EXPECT_TRUE(link.FlushHeldCommand());  // nothing held
        EXPECT_TRUE(link.SendCmd("A03", 0, "9"));
    }  // the link's end sends what it holds
    EXPECT_EQ(relay.Items(),
              (std::vector<std::string>{"relay C05 1 etx 12345 64", "relay   lf 0 80",
                                        "relay A01 0 none 0 0", "relay A02  none 0 0",
                                        "relay A03 9 none 0 0"}));
}

}  // namespace
}  // namespace corvane3
