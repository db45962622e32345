#include "core/link/StatusRecords.h"

#include <gtest/gtest.h>

#include <tuple>

#include "sim/StatusRecords.h"

namespace corvane3 {
namespace {

std::string GoodD1(std::string modeText = "R+Z") {
    sim::D1Values v;
    v.days = 123;
    v.modeText = modeText;
    v.alarms = {0, 0x0A, 0, 0xFF, 0};
    v.freqTune = -123;
    v.pos21V = 21.5;
    v.vcxoControl = -1234;
    v.electronMultiplier = 44.4;
    v.deviation = -3;
    return sim::BuildD1Record(v);
}

// Texts put straight into their columns, so that a reply can carry what no unit would send.
std::string GoodD2(std::string dacGain = "128", std::string sweep = "US",
                   std::string model = "403") {
    sim::D2Values v;
    v.seconds = 6;
    v.supplyOffsets = {-1, 2, 3, -4};
    v.valuePi = -1234;
    v.text = "ABCDEFGHIJ";
    v.value18 = 1.5;
    std::string text = sim::BuildD2Record(v);
    return text.replace(48, 3, dacGain).replace(117, 2, sweep).replace(135, 3, model);
}

TEST(StatusRecordsTest, D1ColumnsAreCutConvertedAndJudged) {
    D1Record d1;
    EXPECT_TRUE(ParseD1Record(GoodD1(), d1));
    EXPECT_EQ(std::tie(d1.serialNumber, d1.days, d1.modeText, d1.alarm2, d1.alarm4),
              std::make_tuple(1234u, 123u, std::string("R+Z"), 0x0Au, 0xFFu));
    EXPECT_EQ(std::tie(d1.freqTune, d1.vvcxo, d1.oscState, d1.stdDev),
              std::make_tuple(-123, -1234, 'c', -3));
    EXPECT_FLOAT_EQ(d1.pos21V, 21.5f);
    EXPECT_FLOAT_EQ(d1.vem, 44.4f);
    EXPECT_TRUE(std::all_of(d1.valid.begin(), d1.valid.end(), [](bool v) { return v; }));

    // An unexpected mode text is stored but rejects the record.
    EXPECT_FALSE(ParseD1Record(GoodD1("R-Z"), d1));
    EXPECT_EQ(d1.modeText, "R-Z");
    EXPECT_FALSE(d1.valid[6]);

    // An out-of-range reading past the fault bytes only clears its own flag.
    EXPECT_TRUE(ParseD1Record(GoodD1("R+T").replace(55, 4, "1500"), d1));
    EXPECT_EQ(d1.c, 1500);
    EXPECT_FALSE(d1.valid[13]);

    // A field that does not scan (the status code, +21 V) keeps its old value and is judged on it.
    const std::string reply = GoodD1().replace(36, 2, "xx").replace(69, 6, "  -   ");
    EXPECT_TRUE(ParseD1Record(reply, d1));
    EXPECT_EQ(d1.state, 0u);
    EXPECT_FLOAT_EQ(d1.pos21V, 21.5f);
    d1.state = 99;
    EXPECT_FALSE(ParseD1Record(reply, d1));

    // Except the serial number: kept, it would file the record under another unit.
    for (const char* serial : {"\x00\xff,,,", "     ", "abcde"}) {
        SCOPED_TRACE(serial);
        D1Record fresh;
        EXPECT_FALSE(ParseD1Record(GoodD1().replace(5, 5, std::string(serial, 5)), fresh));
        EXPECT_FALSE(fresh.valid[0]);
        ASSERT_TRUE(ParseD1Record(GoodD1(), fresh));
        EXPECT_FALSE(ParseD1Record(GoodD1().replace(5, 5, std::string(serial, 5)), fresh));
    }
}

TEST(StatusRecordsTest, D2ModelCodeDacGainAndSweepCapability) {
    // The record starts as a 402's; a number outside 400 to 404 is a garbled reply and keeps it.
    const std::tuple<std::string, std::string, std::string, std::int32_t, float, bool> cases[] = {
        {"128", "US", "403", 403, 2.0f, true},    {"128", "us", "ver", 404, 128.0f, true},
        {"128", "NO", "370", 404, 128.0f, false}, {"064", "  ", "1  ", 402, 4.0f, false},
        {"128", "NO", "773", 402, 2.0f, false},   {"128", "NO", "-00", 402, 2.0f, false},
    };
    for (const auto& [dacGain, sweepText, model, expectedModel, expectedGain, expectedSweep] :
         cases) {
        D2Record d2;
        d2.modelCode = kModel7730B;
        bool sweep = !expectedSweep;
        EXPECT_TRUE(ParseD2Record(GoodD2(dacGain, sweepText, model), d2, sweep)) << model;
        EXPECT_EQ(d2.modelCode, expectedModel) << model;
        EXPECT_FLOAT_EQ(d2.dacGain, expectedGain) << model;
        EXPECT_EQ(sweep, expectedSweep) << sweepText;

        D2Record scanned;
        scanned.modelCode = kModel7730B;
        ASSERT_TRUE(ParseIdentity(GoodD2(dacGain, sweepText, model), scanned));
        // The identity scan reads the code as a number only: "ver" and "370" keep the old one.
        const bool numeric = model != "ver" && model != "370";
        EXPECT_EQ(scanned.modelCode, numeric ? expectedModel : kModel7730B) << model;
    }

    D2Record d2;
    bool sweep = false;
    ASSERT_TRUE(ParseD2Record(GoodD2("128", "US", "404"), d2, sweep));
    // A gain that does not scan is kept, not turned over again.
    EXPECT_TRUE(ParseD2Record(GoodD2("---", "US", "404"), d2, sweep));
    EXPECT_FLOAT_EQ(d2.dacGain, 128.0f);
    EXPECT_FALSE(ParseD2Record(GoodD2("000", "US", "403"), d2, sweep));  // gain out of range

    EXPECT_FALSE(ParseD2Record(GoodD2().replace(1, 1, " "), d2, sweep));  // a bad header
    // The identity scan reaches the last field of a whole reply; a short one fails.
    D2Record scanned;
    ASSERT_TRUE(ParseIdentity(GoodD2(), scanned));
    EXPECT_EQ(std::tie(scanned.seconds, scanned.offsetMinus15, scanned.offsetPlus75, scanned.pi,
                       scanned.text),
              std::make_tuple(6u, -1, -4, -1234, "ABCDEFGHIJ"));
    EXPECT_FLOAT_EQ(scanned.value18, 1.5f);
    EXPECT_FALSE(ParseIdentity("\x02ID01234", scanned));
}

TEST(StatusRecordsTest, D5AndB20) {
    // Field 19 is kept to 11 characters; the fields after a longer one still scan.
    for (const std::string field19 : {"TEXT", "TEXTISLONGERTHANELEVEN"}) {
        D5Record d5;
        ParseD5Record(
            "\x02"
            "1,2019,7,14,51234,6,7,8,9,10,11,12,13,14,15,16,1.5,2.5," +
                field19 + ",20,1,a,b,c,d,e,X,Y,Z,1f,P,Q,R,ff,35,36\n",
            d5);
        EXPECT_EQ(std::tie(d5.yearOfManufacture, d5.manufactureDateA, d5.powerOnHours, d5.field14,
                           d5.field16, d5.field19),
                  std::make_tuple(2019, 7, 51234, 14, 16, field19.substr(0, 11)));
        EXPECT_EQ(std::tie(d5.restartFaultLevel, d5.fields27to29[2], d5.field34, d5.field36),
                  std::make_tuple(1, 'Z', 0xffu, 36))
            << field19;
    }

    B20Record b20;
    std::string reply = "\x02PS 24.1 23.9 0.0 26.8 120 AC" + std::string(9, ' ') + "\x03";
    EXPECT_TRUE(ParseB20Record(reply, b20));
    EXPECT_EQ(std::tie(b20.system24, b20.batt24, b20.charge, b20.source),
              std::make_tuple(24.1f, 26.8f, 120, "AC"));
    reply.back() = 'x';
    EXPECT_FALSE(ParseB20Record(reply, b20));
}

}  // namespace
}  // namespace corvane3
