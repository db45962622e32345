// The simulated unit's status records read by the program's own record readers: every judged
// field scans and lies in its range, the identity scan agrees with the columns, and the D*5
// and B20 scans reach their last field.

#include <gtest/gtest.h>

#include <tuple>

#include "core/link/StatusRecords.h"
#include "sim/StatusRecords.h"
#include "support/SimClient.h"

namespace corvane3::testing {
namespace {

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
    D2Record byColumns, byScan;
    bool sweep = c.model != 401;
    EXPECT_TRUE(ParseD2Record(d2Reply, byColumns, sweep)) << d2Reply;
    EXPECT_EQ(sweep, c.model == 401);
    EXPECT_EQ(byColumns.modelCode, c.model);
    // The whole-text scan stops at the first field out of place; the last one must match too.
    ASSERT_TRUE(ParseIdentity(d2Reply, byScan));
    EXPECT_EQ(
        std::tie(byScan.serialNumber, byScan.days, byScan.seconds, byScan.offsetMinus15,
                 byScan.offsetPlus75, byScan.pi, byScan.nomZRabi, byScan.sweepCapability,
                 byScan.text, byScan.modelCode),
        std::tie(byColumns.serialNumber, byColumns.days, byColumns.seconds, byColumns.offsetMinus15,
                 byColumns.offsetPlus75, byColumns.pi, byColumns.nomZRabi,
                 byColumns.sweepCapability, byColumns.text, byColumns.modelCode));
    EXPECT_FLOAT_EQ(byScan.ddsFrequencyMHz, byColumns.ddsFrequencyMHz);
    EXPECT_FLOAT_EQ(byScan.value18, byColumns.value18);
    EXPECT_GT(byScan.value18, 0.0f);

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

// Values at the edges of their columns read back unchanged; values too wide are clamped
// instead of shifting their neighbours.
TEST(StatusRecordBuilder, ValuesKeepToTheirColumns) {
    sim::D1Values v;
    v.serial = 99999;
    v.freqTune = -999999;
    v.pos21V = -21.37;
    v.clockRabiError = -9999;
    v.alarms = {0, 0x26, 0, 0, 0};
    v.ionPumpCurrent = 999;
    v.deviation = -999;
    D1Record d1;
    ParseD1Record(sim::BuildD1Record(v), d1);
    EXPECT_EQ(std::tie(d1.serialNumber, d1.freqTune, d1.cRabErr, d1.alarm2, d1.iip, d1.stdDev),
              std::make_tuple(99999u, -999999, -9999, 0x26u, 999, -999));
    EXPECT_NEAR(d1.pos21V, -21.37, 0.005);

    v.freqTune = 12345678;
    v.clockLevel = 123456;
    ParseD1Record(sim::BuildD1Record(v), d1);
    EXPECT_EQ(std::tie(d1.freqTune, d1.cLevel, d1.vcField), std::make_tuple(999999, 9999, 0));
    EXPECT_NEAR(d1.pos21V, -21.37, 0.005);
}

}  // namespace
}  // namespace corvane3::testing
