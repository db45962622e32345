#include "core/link/TolvexLink.h"

#include <gtest/gtest.h>

#include "core/link/CommandFrame.h"
#include "core/link/StatusRecords.h"
#include "sim/StatusRecords.h"
#include "support/PortFixture.h"

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
    EXPECT_EQ(log_.Lines().front(), ELinkState::kRs232Reset);
}

TEST_F(TolvexLinkTest, GetResponseReadsUpToTheTerminatorTheLimitOrSilence) {
    ASSERT_TRUE(
        pty_.Write("\x02"
                   "C10 00000 3\x03"
                   "NEXT\n0123456789"));
    struct Step {
        char terminator;
        int limit;
        bool ok;
        std::string reply;
    };
    const Step steps[] = {
        {0, kOrdinaryReplyLimit, true, "untouched"},  // terminator 0 reads nothing
        {kEtx, kOrdinaryReplyLimit, true,
         "\x02"
         "C10 00000 3\x03"},
        {kLf, kOrdinaryReplyLimit, true, "NEXT\n"},  // the rest stayed queued
        {kEtx, kDdsReadbackLimit, false, "012345"},
        {kEtx, kOrdinaryReplyLimit, false, "6789"},  // what arrived before the silence
    };
    for (const Step& step : steps) {
        std::string reply = "untouched";
        EXPECT_EQ(link_.GetResponse(reply, step.terminator, step.limit), step.ok) << step.reply;
        EXPECT_EQ(reply, step.reply);
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

}  // namespace
}  // namespace corvane3
