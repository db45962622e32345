// The simulator served on a pseudo-terminal: injected refusals, the escapes of its text files,
// its status records read by the program's record readers, every judged field in range, and its
// other replies read the way the program reads them (the version and the unit's clock are read
// through the polling thread and the dialogs).

#include <gtest/gtest.h>

#include <cstdio>
#include <tuple>

#include "core/base/Escape.h"
#include "core/link/StatusRecords.h"
#include "sim/StatusRecords.h"
#include "support/SimClient.h"

namespace corvane3::testing {
namespace {

// Protected commands are refused, others still answered; how the program takes the other
// faults is told by the headless runs against the simulator program.
TEST(Faults, ProtectedCommandsAreRefusedOthersAnswered) {
    SimClient client(QuickOptions(403));
    client.Server().UpdateFaults([](sim::SimFaults& f) { f.refuseProtected = true; });
    EXPECT_TRUE(IsRefusal(client.Exchange("W18")));
    EXPECT_FALSE(IsRefusal(client.Exchange("W01", 0, "+000000")));
}

// The telecom and Ethernet replies are read by their dialogs against the simulator.
TEST(CommandReplies, ScannedRepliesCarryNoEcho) {
    SimClient unit(QuickOptions(403));
    int counts[4] = {};
    EXPECT_EQ(std::sscanf(unit.Exchange("A24", kFactoryAccessOption).c_str() + 1, "%d,%d,%d,%d",
                          &counts[0], &counts[1], &counts[2], &counts[3]),
              4);
    unsigned dccTime = 0;
    EXPECT_EQ(std::sscanf(unit.Exchange("B02").c_str() + 1, "%u", &dccTime), 1);
    for (const char* code : {"B33", "B34"}) {
        int number = 0;
        char text[32] = {};
        EXPECT_EQ(std::sscanf(unit.Exchange(code).c_str() + 1, "%d %31s", &number, text), 2)
            << code;
    }
    EXPECT_EQ(unit.Exchange("B21").size(), 8u);  // STX, six characters, ETX
}

// (The frequency offset, the Ethernet settings and the unit's clock are read back by their
// dialogs' tests.)
TEST(CommandReplies, SettingsAreReportedByLaterQueries) {
    SimClient unit(QuickOptions(403));
    unit.Exchange("C01", kFactoryAccessOption, "01010");
    unit.Exchange("A18", kFactoryAccessOption, "1");
    unit.Exchange("B10", 0, "D4 MUT");
    const auto [serial, restartFaultLevel] =
        unit.Server().WithInstrument([](sim::CSimulatedInstrument& instrument) {
            const sim::SimClock::time_point now = sim::SimClock::now();
            return std::pair(instrument.ReadingsD1(now).serial,
                             instrument.ReadingsD5(now).restartFaultLevel);
        });
    EXPECT_EQ(serial, 1010u);
    EXPECT_EQ(restartFaultLevel, 1);
    EXPECT_EQ(unit.Exchange("B30"), std::string{kStx} + "D4 MUT\x03");
}

TEST(CommandReplies, ModelsAnswerOnlyWhatTheyHave) {
    EXPECT_EQ(SimClient(QuickOptions(404)).Exchange("A24", kFactoryAccessOption)[11], '?');
    SimClient b7730(QuickOptions(402));
    EXPECT_EQ(b7730.Exchange("B30")[11], '?');  // no DCC: the telecom interfaces are absent
    EXPECT_EQ(b7730.Exchange("D*6", kFactoryAccessOption)[11], '?');
    SimClient chronoBeam(QuickOptions(401));
    EXPECT_TRUE(IsRefusal(chronoBeam.Exchange("D*6", 0)));
    const std::string factoryLog = chronoBeam.Exchange("D*6", kFactoryAccessOption);
    EXPECT_GT(std::atoi(factoryLog.c_str() + 23), 0);
    EXPECT_EQ(factoryLog.substr(5, 5), FactoryAccessField());
}

TEST(TextFormats, EveryByteSurvivesItsEscapeAndABadEscapeIsRefused) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    const std::string text = EscapeBytes(all);
    EXPECT_EQ(text.find_first_of("\r\n\t\x02"), std::string::npos);
    EXPECT_EQ(UnescapeBytes(text), all);
    for (const char* bad : {"\\", "\\q", "\\x4", "\\xZZ"}) {
        EXPECT_FALSE(UnescapeBytes(bad)) << bad;
    }
}

// Each model's records; a 7730A has no NVRAM record, and only a Tq9000 has the DCC board.
class StatusRecordsForEveryModel : public ::testing::TestWithParam<int> {};

TEST_P(StatusRecordsForEveryModel, RecordsPassTheProgramsReaders) {
    const int model = GetParam();
    sim::SimulatorOptions options = QuickOptions(model);
    options.instrument.serial = 4321;
    options.instrument.instrumentSweep = model == kModelChronoBeam;
    SimClient client(options);
    ASSERT_TRUE(client.Opened());

    const std::string d1Reply = client.ReadRecord("D*1", kD1ReplyLength);
    D1Record d1;
    EXPECT_TRUE(ParseD1Record(d1Reply, d1)) << d1Reply;
    for (std::size_t row = 0; row < d1.valid.size(); ++row) {
        EXPECT_TRUE(d1.valid[row]) << "D*1 row " << row << ": " << d1Reply;
    }
    EXPECT_EQ(d1.serialNumber, 4321u);

    const std::string d2Reply = client.ReadRecord("D*2", kD2ReplyLength);
    D2Record d2;
    bool sweep = model != kModelChronoBeam;
    EXPECT_TRUE(ParseD2Record(d2Reply, d2, sweep)) << d2Reply;
    EXPECT_EQ(sweep, model == kModelChronoBeam);
    EXPECT_EQ(d2.modelCode, model);

    const std::string d5Reply = client.Exchange("D*5");
    if (model != kModel7730A) {
        EXPECT_LT(d5Reply.size(), kD5ReadLength);  // the reader takes it in one read
        D5Record d5;
        d5.restartFaultLevel = d5.field36 = -1;
        ParseD5Record(d5Reply, d5);
        EXPECT_EQ(std::tie(d5.field1, d5.field19, d5.restartFaultLevel, d5.field36),
                  std::make_tuple(4321L, std::string("B12"), 0, 0))
            << d5Reply;
    } else {
        EXPECT_EQ(d5Reply.substr(0, 12),
                  "\x02"
                  "D*5 00000 ?");
    }

    if (model == kModelTq9000) {
        B20Record b20;
        EXPECT_TRUE(ParseB20Record(client.ReadRecord("B20", kB20ReplyLength), b20));
        EXPECT_EQ(std::tie(b20.token, b20.source), std::make_tuple("PS24", "AC"));
    } else {
        EXPECT_EQ(client.Exchange("B20")[11], '?');
    }
}

INSTANTIATE_TEST_SUITE_P(Models, StatusRecordsForEveryModel,
                         ::testing::Range<int>(kModel7750, kModel7730A + 1),
                         [](const auto& info) { return "Model" + std::to_string(info.param); });

}  // namespace
}  // namespace corvane3::testing
