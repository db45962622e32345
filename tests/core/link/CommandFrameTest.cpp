#include "core/link/CommandFrame.h"

#include <gtest/gtest.h>

#include <cctype>
#include <tuple>

namespace corvane3 {
namespace {

std::string Framed(const std::string& inner) {
    return "\x02" + inner + "\x03";
}

TEST(CommandFrameTest, FramesAreBuiltByteForByte) {
    const std::tuple<const char*, std::uint32_t, const char*, std::int32_t, std::string> cases[] = {
        {"C10", 0, "", 403, Framed("C10 00000 ")},  // twelve bytes, no data
        {"W00", 12345, "+0020", 403, Framed("W00 12345 +0020")},
        {"W00", 7, "", 400, Framed("W00 00007 ")},  // a password is zero-padded
        {"C08", 99999, "00042", 401, Framed("C08 99999 00042")},
        {"D*3", kFactoryAccessOption, "", 403, Framed("D*3 00000 ")},  // only a 401 gets the field
        {"A4", 0, "?", 403, Framed(" A4 00000 ?")},  // a short code is padded on the left
        {"A04", 123456, "0", 403, Framed("A04 123456 0")},
    };
    for (const auto& [code, parameter, data, model, frame] : cases) {
        EXPECT_EQ(BuildFrame(code, parameter, data, model), frame) << code;
    }

    const std::string field = FactoryAccessField();
    ASSERT_EQ(field.size(), 5u);
    for (std::size_t i = 0; i < field.size(); ++i) {
        const auto ch = static_cast<unsigned char>(field[i]);
        EXPECT_TRUE(i < 2 ? std::isupper(ch) : std::isxdigit(ch) && !std::isupper(ch)) << field;
    }
    EXPECT_EQ(BuildFrame("D*6", kFactoryAccessOption, "", 401), Framed("D*6 " + field + " "));
}

TEST(CommandFrameTest, RefusalMarkIsTheThirdCharacterBeforeEtx) {
    const std::pair<std::string, bool> cases[] = {
        {"!ab\x03", true},
        {"!\x03", false},  // too short to carry a mark
        {"", false},
    };
    for (const auto& [reply, refused] : cases) {
        EXPECT_EQ(IsRefusal(reply), refused) << reply;
    }
}

// Every sender judges replies alike: only a whole reply (its end mark last) is an answer.
TEST(CommandFrameTest, OnlyAWholeReplyIsJudgedByItsMark) {
    const std::string stx(1, kStx);
    const std::tuple<std::string, char, EReplyVerdict> cases[] = {
        {Framed("W07 00000 ?\r\n"), kEtx, EReplyVerdict::kNotUnderstood},
        {Framed("W18 00000 !\r\n"), kEtx, EReplyVerdict::kRefused},
        // Cut short after the echo, or just before the ETX: never a success.
        {"\x02W01 00000 ", kEtx, EReplyVerdict::kUnanswered},
        {"\x02W01 00000 OK\r\n", kEtx, EReplyVerdict::kUnanswered},
        {"\x02W18 00000 !\r\n", kEtx, EReplyVerdict::kUnanswered},
        {"", kEtx, EReplyVerdict::kUnanswered},
        // A line read up to LF (the end of a test) has its mark before CR LF.
        {stx + "A01 00000 Test 1 ended\r\n", kLf, EReplyVerdict::kAccepted},
        {stx + "A01 00000 !\r\n", kLf, EReplyVerdict::kRefused},
        {stx + "A01 00000 Test", kLf, EReplyVerdict::kUnanswered},
    };
    for (const auto& [reply, endMark, verdict] : cases) {
        EXPECT_EQ(JudgeReply(reply, endMark), verdict) << reply;
    }
}

}  // namespace
}  // namespace corvane3
