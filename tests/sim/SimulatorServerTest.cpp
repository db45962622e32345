// The simulator served on a pseudo-terminal: injected refusals, the escapes of its text files,
// and its status records read by the program's record readers, every judged field in range.

#include <gtest/gtest.h>

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

struct ModelCase {
    int model;
    bool hasNvram;
    bool hasDcc;
};

class StatusRecordsForEveryModel : public ::testing::TestWithParam<ModelCase> {};

TEST_P(StatusRecordsForEveryModel, RecordsPassTheProgramsReaders) {
    const ModelCase& c = GetParam();
    sim::SimulatorOptions options = QuickOptions(c.model);
    options.instrument.serial = 4321;
    options.instrument.instrumentSweep = c.model == 401;
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
    bool sweep = c.model != 401;
    EXPECT_TRUE(ParseD2Record(d2Reply, d2, sweep)) << d2Reply;
    EXPECT_EQ(sweep, c.model == 401);
    EXPECT_EQ(d2.modelCode, c.model);

    const std::string d5Reply = client.Exchange("D*5");
    if (c.hasNvram) {
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

    if (c.hasDcc) {
        B20Record b20;
        EXPECT_TRUE(ParseB20Record(client.ReadRecord("B20", kB20ReplyLength), b20));
        EXPECT_EQ(std::tie(b20.token, b20.source), std::make_tuple("PS24", "AC"));
    } else {
        EXPECT_EQ(client.Exchange("B20")[11], '?');
    }
}

INSTANTIATE_TEST_SUITE_P(Models, StatusRecordsForEveryModel,
                         ::testing::Values(ModelCase{400, true, false}, ModelCase{401, true, false},
                                           ModelCase{402, true, false}, ModelCase{403, true, true},
                                           ModelCase{404, false, false}),
                         [](const auto& info) {
                             return "Model" + std::to_string(info.param.model);
                         });

}  // namespace
}  // namespace corvane3::testing
