#include "link/CommandCatalogue.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "link/CommandFrame.h"
#include "link/Notification.h"
#include "link/UnitState.h"

namespace corvane3 {
namespace {

const CatalogueRow& RowByName(std::string_view name) {
    for (const CatalogueRow& row : CommandCatalogue()) {
        if (row.name == name) {
            return row;
        }
    }
    ADD_FAILURE() << "no row named " << name;
    return CommandCatalogue()[0];
}

TEST(CommandCatalogueTest, TheListHoldsEveryCommandInTheDocumentedOrder) {
    const std::vector<std::string> expected = {
        "W00", "W01", "W03", "W04", "W05", "W06", "W07", "W08", "W10", "W11", "W12", "W13", "W14",
        "W15", "W16", "W17", "W18", "W22", "T*2", "D*1", "D*2", "D*3", "D*4", "D*5", "D*6", "S01",
        "S02", "S03", "S04", "S05", "S06", "S07", "S08", "S09", "C01", "C02", "C03", "C04", "C05",
        "C06", "C07", "C09", "C10", "A01", "A02", "A03", "A04", "A05", "A06", "A07", "A08", "A09",
        "A10", "A11", "A12", "A13", "A14", "A15", "A16", "A17", "A18", "A19", "A20", "A21", "A22",
        "A24", "B01", "B02", "B03", "B10", "B11", "B12", "B20", "B21", "B30", "B31", "B32"};
    std::vector<std::string> codes;
    for (const CatalogueRow& row : CommandCatalogue()) {
        codes.emplace_back(row.code);
        EXPECT_FALSE(row.name.empty()) << row.code;
    }
    EXPECT_EQ(codes, expected);
}

TEST(CommandCatalogueTest, ExactlyTheRowsWithAnInputLengthTakeInputAndCarryADefault) {
    const std::set<std::string> takingInput = {
        "W01", "W03", "W07", "W08", "W10", "W11", "W15", "S01", "S02", "S03", "S04",
        "S05", "S06", "S07", "S08", "S09", "C01", "C04", "C05", "C06", "C07", "A01",
        "A02", "A03", "A04", "A05", "A06", "A07", "A09", "A11", "A13", "A15", "A17",
        "A18", "A20", "A21", "A22", "B01", "B03", "B10", "B11", "B12"};
    for (const CatalogueRow& row : CommandCatalogue()) {
        const bool expected = takingInput.count(std::string(row.code)) != 0;
        EXPECT_EQ(row.TakesInput(), expected) << row.code;
        EXPECT_EQ(row.defaultInput.empty(), !expected) << row.code;
        EXPECT_EQ(row.inputPicture.empty(), !expected) << row.code;
    }
}

TEST(CommandCatalogueTest, DescriptionsKeepTheirLineBreaksAndBlanks) {
    EXPECT_EQ(
        RowByName("(7730) Set the TTL output Frequency").description,
        "Set the TTL output Frequency (7730b)\n   1=100KHz\n   2=1MHz\n   3=5MHz\n   4=10MHz");
    EXPECT_EQ(RowByName("Single Point DDS").description,
              "off=restart clock\n?=repeat last interrogation\n entering a 12 digit hex frequency "
              "performs an interrogation ");
}

TEST(CommandCatalogueTest, InputIsSentAsTypedUpTo255CharactersOnlyByRowsThatTakeIt) {
    const CatalogueRow& unitId = RowByName("UnitID");
    const std::string longInput(300, '7');
    EXPECT_EQ(CatalogueCommand(unitId, longInput, 0).data, std::string(255, '7'));
    EXPECT_EQ(CatalogueEchoLine(unitId, longInput), "C01 00000 " + std::string(255, '7'));
    EXPECT_EQ(CatalogueEchoLine(unitId, ""), "C01 00000 ");

    // A row without input sends no data, whatever the box still held.
    const CatalogueRow& mute = RowByName("Mute");
    const MailboxCommand command = CatalogueCommand(mute, "left over", 0);
    EXPECT_EQ(command.code, "W12");
    EXPECT_EQ(command.data, "");
    EXPECT_EQ(command.replyLimit, 1024);
    EXPECT_EQ(command.notificationCode, kNotifyCatalogueReply);
    EXPECT_EQ(CatalogueEchoLine(mute, "left over"), "W12 00000 ");
    EXPECT_EQ(CatalogueParameter(kModelTq9000), 0u);
    EXPECT_EQ(CatalogueParameter(kModelChronoBeam), kFactoryAccessOption);
}

struct ReplyCase {
    const char* behaviour;
    std::string response;
    std::size_t limit;
    std::vector<std::string> lines;
};

TEST(CommandCatalogueTest, RepliesAreSplitIntoListLines) {
    const std::string stx(1, kStx);
    const std::string etx(1, kEtx);
    const std::string field = FactoryAccessField();
    const ReplyCase cases[] = {
        {"text after CR LF makes a second line",
         stx + "C03 00000 Version C 21\r\nmore" + etx,
         1024,
         {"C03 00000 Version C 21", "more"}},
        {"ETX after CR LF adds the empty line in progress",
         stx + "W12 00000 OK\r\n" + etx,
         1024,
         {"W12 00000 OK", ""}},
        {"a long line is cut after 255 characters",
         stx + std::string(300, 'x') + etx,
         1024,
         {std::string(255, 'x'), std::string(45, 'x')}},
        {"exactly 255 characters then CR is one line",
         std::string(255, 'y') + "\r" + etx,
         1024,
         {std::string(255, 'y'), ""}},
        {"the Factory access echo is shown as zeros",
         stx + "C03 " + field + " done" + etx,
         1024,
         {"C03 00000 done"}},
        {"the field elsewhere in a line is left alone",
         stx + field + " done" + etx,
         1024,
         {field + " done"}},
        {"a NUL ends the reply", stx + std::string("ab\0cd", 5) + etx, 1024, {"ab"}},
        {"the walk stops at the reply limit, keeping its line", stx + "abcdef" + etx, 4, {"abc"}},
        {"an empty reply gives nothing", "", 1024, {}},
    };
    for (const ReplyCase& c : cases) {
        EXPECT_EQ(ReplyLines(c.response, c.limit), c.lines) << c.behaviour;
    }
}

}  // namespace
}  // namespace corvane3
