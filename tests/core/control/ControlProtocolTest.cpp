// The control protocol's lines: every message survives the round trip, raw bytes travel as
// plain ASCII, and what is not a message of its direction is refused with a reason.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>

#include "core/control/ControlProtocol.h"

namespace corvane3 {
namespace {

// Every byte value, as a reply may carry it; data may carry all but STX and ETX.
std::string AllBytes(bool frameMarks = true) {
    std::string bytes;
    for (int b = 0; b < 256; ++b) {
        if (frameMarks || (b != 0x02 && b != 0x03)) {
            bytes += static_cast<char>(b);
        }
    }
    return bytes;
}

bool IsPlainAsciiLine(const std::string& line) {
    return line.ends_with('\n') &&
           std::ranges::all_of(line.substr(0, line.size() - 1),
                               [](unsigned char c) { return c >= 0x20 && c < 0x80; });
}

TEST(ControlProtocolTest, ClientMessagesSurviveTheRoundTrip) {
    const ControlCommand all{"A05", AllBytes(false), 99999, 25000, EReplyEnd::kLf};
    const ControlCommand sendOnly{"A02", "0", 0, 0, EReplyEnd::kNone};
    const ClientMessage messages[] = {
        HelloMessage{1, ""},
        ExchangeRequest{18446744073709551615ull, all},
        ExchangeRequest{7, {"", "", 0, 64, EReplyEnd::kLf}},
        ClosingRegistration{{all, sendOnly}},
        ClosingRegistration{},
        SweepRequest{true},
        SweepRequest{false},
    };
    for (const ClientMessage& message : messages) {
        const std::string line = EncodeClientMessage(message);
        EXPECT_TRUE(IsPlainAsciiLine(line)) << line;
        std::string problem;
        const auto back = DecodeClientMessage(line, problem);
        ASSERT_TRUE(back) << line << ": " << problem;
        // Compared through the encoder: each message's fields are all on the line.
        EXPECT_EQ(EncodeClientMessage(*back), line);
    }
    std::string problem;
    const auto exchange =
        DecodeClientMessage(EncodeClientMessage(ExchangeRequest{3, all}), problem);
    const auto& command = std::get<ExchangeRequest>(exchange.value()).command;
    EXPECT_EQ(std::tie(command.data, command.parameter, command.replyLimit, command.end),
              std::make_tuple(AllBytes(false), 99999u, 25000, EReplyEnd::kLf));
}

// Raw bytes in its texts, and numbers at their ends.
const UnitDetails kDetails{
    "2026-12-09 \x01\xe9", "F\xff 1", true, -2147483647 - 1, 0, 12, INT64_MAX, -1};

TEST(ControlProtocolTest, ServerMessagesSurviveTheRoundTrip) {
    const ServerMessage messages[] = {
        HelloMessage{1, "alice"},
        LinkMessage{ELinkState::kUnitOnline, "Unit Online", true},
        LinkMessage{ELinkState::kStepProgress, "D1...OK", true},
        LinkMessage{ELinkState::kCountdown, "Ready: 9", false},
        RecordMessage{403, 4294967295u, "61382.00000 1 2,5", {}},
        ReplyMessage{5, true, false, AllBytes()},
        ClosingMessage{2},
        SweepMessage{true, "bob"},
        SweepMessage{false, ""},
        ErrorMessage{9, "A sweep is already held."},
        ErrorMessage{std::nullopt, "bye"},
        RecordMessage{403, 1, "x", kDetails},
    };
    for (const ServerMessage& message : messages) {
        const std::string line = EncodeServerMessage(message);
        EXPECT_TRUE(IsPlainAsciiLine(line)) << line;
        std::string problem;
        const auto back = DecodeServerMessage(line, problem);
        ASSERT_TRUE(back) << line << ": " << problem;
        EXPECT_EQ(back->index(), message.index());
        EXPECT_EQ(EncodeServerMessage(*back), line);
    }
    // Numbers at their ends come back as they were, not only as they were written.
    std::string problem;
    const auto record = DecodeServerMessage(EncodeServerMessage(messages[11]), problem);
    EXPECT_EQ(std::get<RecordMessage>(record.value()).unit, kDetails);
}

TEST(ControlProtocolTest, ScriptLinesAreReadAsWritten) {
    // As a person would type them: defaults for what is left out, unknown fields ignored.
    std::string problem;
    const auto exchange =
        DecodeClientMessage(R"({"class":"exchange","id":1,"code":"B05","x":[1]})", problem);
    ASSERT_TRUE(exchange) << problem;
    const ControlCommand& command = std::get<ExchangeRequest>(*exchange).command;
    EXPECT_EQ(
        std::tie(command.code, command.data, command.parameter, command.replyLimit, command.end),
        std::make_tuple("B05", "", 0u, 256, EReplyEnd::kEtx));
    const auto utf8 = DecodeClientMessage(
        "{\"class\":\"exchange\",\"id\":2,\"code\":\"W01\",\"data\":\"\xc3\xa9\\u00ff\"}\n",
        problem);
    ASSERT_TRUE(utf8) << problem;
    EXPECT_EQ(std::get<ExchangeRequest>(*utf8).command.data, "\xe9\xff");
}

TEST(ControlProtocolTest, WhatIsNotAMessageIsRefusedWithItsReason) {
    const struct {
        const char* line;
        const char* reason;  // a part of the problem text
    } kClient[] = {
        {"", "not a JSON object"},
        {"[1,2]", "not a JSON object"},
        {"{\"class\":\"exchange\",\"id\":1", "not a JSON object"},
        {"{\"id\":1}", "\"class\" is missing"},
        {"{\"class\":7}", "\"class\" is not a text"},
        {"{\"class\":\"record\",\"line\":\"\"}", "not one a client sends"},
        {"{\"class\":\"exchange\",\"code\":\"B05\"}", "\"id\" is missing"},
        {"{\"class\":\"exchange\",\"id\":-1,\"code\":\"B05\"}", "\"id\" is not a whole number"},
        {"{\"class\":\"exchange\",\"id\":1.5,\"code\":\"B05\"}", "\"id\" is not a whole number"},
        {"{\"class\":\"exchange\",\"id\":1,\"code\":\"B05\",\"parameter\":4294967296}",
         "\"parameter\" is not a whole number"},
        {"{\"class\":\"exchange\",\"id\":1,\"code\":\"B05\",\"limit\":-1}",
         "\"limit\" is not from 0 to 25000"},
        {"{\"class\":\"exchange\",\"id\":1,\"code\":\"B05\",\"limit\":25001}",
         "\"limit\" is not from 0 to 25000"},
        {"{\"class\":\"exchange\",\"id\":1,\"code\":\"B0\"}", "three printable"},
        {"{\"class\":\"exchange\",\"id\":1,\"code\":\"B 5\"}", "three printable"},
        {"{\"class\":\"exchange\",\"id\":1,\"code\":\"B05\",\"data\":\"1\\u00032\"}", "STX or ETX"},
        {"{\"class\":\"closing\",\"commands\":[{\"code\":\"\\u0002A2\"}]}", "three printable"},
        {"{\"class\":\"exchange\",\"id\":1,\"code\":\"B05\",\"end\":\"cr\"}", "\"end\" is not"},
        {"{\"class\":\"exchange\",\"id\":1,\"code\":\"\\u0100\"}", "above \\u00ff"},
        {"{\"class\":\"exchange\",\"id\":1,\"code\":\"\xe2\x82\xac\"}", "above \\u00ff"},
        {"{\"class\":\"closing\",\"commands\":{}}", "\"commands\" is not a list"},
        {"{\"class\":\"closing\",\"commands\":[3]}", "not an object"},
        {"{\"class\":\"sweep\",\"hold\":1}", "\"hold\" is not true or false"},
        {"{\"class\":\"hello\",\"version\":\"1\"}", "\"version\" is not a whole number"},
    };
    for (const auto& [line, reason] : kClient) {
        std::string problem;
        EXPECT_FALSE(DecodeClientMessage(line, problem)) << line;
        EXPECT_NE(problem.find(reason), std::string::npos) << line << ": " << problem;
    }
    for (const char* line :
         {"{\"class\":\"exchange\",\"id\":1,\"code\":\"B05\"}",
          "{\"class\":\"link\",\"state\":\"dancing\",\"text\":\"\",\"online\":true}",
          "{\"class\":\"reply\",\"id\":1,\"sent\":true,\"complete\":true}"}) {
        std::string problem;
        EXPECT_FALSE(DecodeServerMessage(line, problem)) << line;
        EXPECT_FALSE(problem.empty());
    }
}

TEST(ControlProtocolTest, LinkStateNamesAreOneToOne) {
    for (int i = 0; i <= static_cast<int>(ELinkState::kStepProgress); ++i) {
        const auto state = static_cast<ELinkState>(i);
        EXPECT_EQ(LinkStateFromName(LinkStateName(state)), state) << i;
    }
    EXPECT_EQ(LinkStateName(ELinkState::kUnitOnline), "unit-online");
    EXPECT_FALSE(LinkStateFromName("Unit Online"));
}

TEST(ControlProtocolTest, LinesAreCutAtTheirEndAndAnOverlongOneEndsTheStream) {
    CControlLineReader reader;
    reader.Append("{\"a\":1}\n{\"b\"");
    EXPECT_EQ(reader.NextLine(), "{\"a\":1}");
    EXPECT_FALSE(reader.NextLine());
    reader.Append(":2}\n\n");
    EXPECT_EQ(reader.NextLine(), "{\"b\":2}");
    EXPECT_EQ(reader.NextLine(), "");
    EXPECT_FALSE(reader.NextLine());
    EXPECT_FALSE(reader.Overflowed());

    CControlLineReader exact;  // a line of exactly the limit, '\n' included, is taken
    exact.Append(std::string(kControlLineLimit - 1, 'x') + "\n");
    EXPECT_EQ(exact.NextLine()->size(), kControlLineLimit - 1);
    exact.Append(std::string(kControlLineLimit, 'y') + "\n");
    EXPECT_FALSE(exact.NextLine());
    EXPECT_TRUE(exact.Overflowed());

    CControlLineReader endless;  // no '\n' ever: cut once the limit is reached, in small pieces
    for (std::size_t sent = 0; sent < kControlLineLimit; sent += 1000) {
        endless.Append(std::string(1000, 'z'));
        endless.NextLine();
    }
    EXPECT_TRUE(endless.Overflowed());
    endless.Append("\n{}\n");
    EXPECT_FALSE(endless.NextLine());
}

}  // namespace
}  // namespace corvane3
