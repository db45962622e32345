#include "core/poll/CommandCatalogue.h"
#include "core/poll/SerialReconfiguration.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "core/link/CommandCodes.h"
#include "core/link/CommandFrame.h"
#include "core/link/UnitState.h"

namespace corvane3 {
namespace {

// The codes a set user password guards are exactly those the instrument refuses without it;
// the simulated unit and the change log both go by this one table.
TEST(CommandCodesTest, ExactlyTheInstrumentsGuardedCommandsAreProtected) {
    std::set<std::string> guarded;
    for (const CommandEntry& entry : kCommands) {
        if (IsProtectedCommand(entry.code)) {
            guarded.insert(entry.code);
        }
    }
    const std::set<std::string> expected{"A06", "A07", "W18", "A20", "A21",
                                         "A22", "C05", "C08", "C09"};
    EXPECT_EQ(guarded, expected);
    EXPECT_FALSE(IsProtectedCommand("A6"));
    EXPECT_FALSE(IsProtectedCommand("X99"));
}

const CatalogueRow& RowByName(std::string_view name) {
    for (const CatalogueRow& row : CommandCatalogue()) {
        if (row.name == name) {
            return row;
        }
    }
    ADD_FAILURE() << "no row named " << name;
    return CommandCatalogue()[0];
}

// Codes and names pick a row, so each is unique; a row has a default and a picture exactly
// when it takes input.
TEST(CommandCatalogueTest, RowsAreUniqueAndCarryADefaultExactlyWhenTheyTakeInput) {
    std::set<std::string_view> codes, names;
    for (const CatalogueRow& row : CommandCatalogue()) {
        EXPECT_EQ(row.code.size(), 3u) << row.code;
        EXPECT_TRUE(codes.insert(row.code).second) << row.code;
        EXPECT_TRUE(!row.name.empty() && names.insert(row.name).second) << row.code;
        EXPECT_EQ(row.defaultInput.empty(), !row.TakesInput()) << row.code;
        EXPECT_EQ(row.inputPicture.empty(), !row.TakesInput()) << row.code;
    }
    EXPECT_EQ(codes.size(), 77u);  // the instrument knows 77 commands
}

// Input goes as typed, up to 255 characters, and only by rows that take it. Pasted framing
// characters are not sent: an ETX would end the frame early at the unit, an STX start it again.
TEST(CommandCatalogueTest, InputIsSentAsTypedUpTo255CharactersWithoutFramingCharacters) {
    const std::string sevens(255, '7');
    const std::tuple<const char*, std::string, std::string> cases[] = {
        {"UnitID", std::string(300, '7'), sevens},
        {"UnitID", "", ""},
        {"Mute", "left over", ""},  // whatever the box still held
        {"UnitID", std::string("12\x03") + "34\x02" + "5", "12345"},
        // The limit counts what was typed, framing characters included.
        {"UnitID", sevens.substr(1) + "\x03" + "99", sevens.substr(1)},
    };
    for (const auto& [name, typed, data] : cases) {
        const CatalogueRow& row = RowByName(name);
        const MailboxCommand command = CatalogueCommand(row, typed, 0);
        EXPECT_EQ(command.data, data) << name << ' ' << typed;
        EXPECT_EQ(CatalogueEchoLine(row, typed), command.code + " 00000 " + data) << typed;
        const std::string frame = BuildFrame(command.code, command.parameter, command.data, 0);
        EXPECT_EQ(frame.find(kEtx), frame.size() - 1) << typed;
        EXPECT_EQ(frame.rfind(kStx), 0u) << typed;
    }
    EXPECT_EQ(CatalogueParameter(kModelTq9000), 0u);
    EXPECT_EQ(CatalogueParameter(kModelChronoBeam), kFactoryAccessOption);
}

// Lines ended by CR LF or ETX, and the Factory access echo shown as zeros:
// CommandSelectDlgTest.TheLastRepliesStayInViewAndEachOpeningStartsAfresh.
TEST(CommandCatalogueTest, RepliesAreSplitIntoListLines) {
    const std::string stx(1, kStx), etx(1, kEtx);
    const std::string field = FactoryAccessField();
    const struct {
        const char* behaviour;
        std::string response;
        std::vector<std::string> lines;
        std::size_t limit = 1024;
    } cases[] = {
        {"a long line is cut after 255 characters",
         stx + std::string(300, 'x') + etx,
         {std::string(255, 'x'), std::string(45, 'x')}},
        {"exactly 255 characters then CR is one line",
         std::string(255, 'y') + "\r" + etx,
         {std::string(255, 'y'), ""}},
        {"the field elsewhere in a line is left alone",
         stx + field + " done" + etx,
         {field + " done"}},
        {"a NUL ends the reply", stx + std::string("ab\0cd", 5) + etx, {"ab"}},
        {"the walk stops at the reply limit, keeping its line", stx + "abcdef" + etx, {"abc"}, 4},
        {"an empty reply gives nothing", "", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReplyLines(c.response, c.limit), c.lines) << c.behaviour;
    }
}

// The line the unit is told to move to: Mark and Space parity go as none, 1.5 stop bits as 2.
TEST(SerialParametersTextTest, EachLineSettingGoesAsTheUnitKnowsIt) {
    for (const auto& [line, text] :
         {std::pair(SerialLineSettings{"COM1", 19200, kParityEven, kStopBitsOne, 8}, "19200,8,E,1"),
          {SerialLineSettings{"COM1", 9600, kParityOdd, kStopBitsTwo, 7}, "9600,7,O,2"},
          {SerialLineSettings{"COM1", 4800, kParityMark, kStopBitsOneAndHalf, 7}, "4800,7,N,2"},
          {SerialLineSettings{"COM1", 2400, kParitySpace, kStopBitsOne, 8}, "2400,8,N,1"}}) {
        EXPECT_EQ(SerialParametersText(line), text);
    }
}

}  // namespace
}  // namespace corvane3
