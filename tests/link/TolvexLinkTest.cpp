#include "link/TolvexLink.h"

#include <gtest/gtest.h>

#include "link/CommandFrame.h"
#include "support/PortFixture.h"

namespace corvane3 {
namespace {

class TolvexLinkTest : public testing::PortFixture {
  protected:
    std::atomic<std::int32_t> model_{403};
    CTolvexLink link_{port_, model_};
};

TEST_F(TolvexLinkTest, SendCmdWritesHeadDataAndEtx) {
    ASSERT_TRUE(link_.SendCmd("W00", 12345, "+0020"));
    EXPECT_EQ(pty_.ReadCount(17, std::chrono::seconds(2)),
              "\x02"
              "W00 12345 +0020\x03");
    ASSERT_TRUE(link_.SendCmd("T*2", 0, ""));
    EXPECT_EQ(pty_.ReadCount(12, std::chrono::seconds(2)),
              "\x02"
              "T*2 00000 \x03");
}

TEST_F(TolvexLinkTest, SendCmdToAVanishedPeerFails) {
    pty_.Close();
    EXPECT_FALSE(link_.SendCmd("C10", 0, ""));
}

TEST_F(TolvexLinkTest, GetResponseStopsAtTheTerminatorAndLeavesTheRestQueued) {
    ASSERT_TRUE(
        pty_.Write("\x02"
                   "C10 00000 3\x03"
                   "NEXT\n"));
    std::string reply;
    EXPECT_TRUE(link_.GetResponse(reply, kEtx, kOrdinaryReplyLimit));
    EXPECT_EQ(reply,
              "\x02"
              "C10 00000 3\x03");
    EXPECT_TRUE(link_.GetResponse(reply, kLf, kOrdinaryReplyLimit));
    EXPECT_EQ(reply, "NEXT\n");
}

TEST_F(TolvexLinkTest, GetResponseFailsAtTheLimitOrOnSilence) {
    ASSERT_TRUE(pty_.Write("0123456789"));
    std::string reply;
    EXPECT_FALSE(link_.GetResponse(reply, kEtx, kDdsReadbackLimit));
    EXPECT_EQ(reply, "012345");
    EXPECT_FALSE(link_.GetResponse(reply, kEtx, kOrdinaryReplyLimit));
    EXPECT_EQ(reply, "6789");  // what arrived before the silence
}

TEST_F(TolvexLinkTest, TerminatorZeroReadsNothing) {
    ASSERT_TRUE(pty_.Write("abc\x03"));
    std::string reply = "untouched";
    EXPECT_TRUE(link_.GetResponse(reply, 0, kOrdinaryReplyLimit));
    EXPECT_EQ(reply, "untouched");
    EXPECT_TRUE(link_.GetResponse(reply, kEtx, kOrdinaryReplyLimit));
    EXPECT_EQ(reply, "abc\x03");
}

}  // namespace
}  // namespace corvane3
