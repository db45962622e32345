#include "link/StatusRecords.h"

#include <gtest/gtest.h>

#include <tuple>

#include "link/CommandFrame.h"
#include "support/PortFixture.h"

namespace corvane3 {
namespace {

// A reply of the given length framed by STX and ETX, blank elsewhere, with texts put at columns.
std::string Record(std::size_t length,
                   std::initializer_list<std::pair<std::size_t, std::string>> at) {
    std::string text(length, ' ');
    text.front() = kStx;
    text.back() = kEtx;
    for (const auto& [column, value] : at) {
        text.replace(column, value.size(), value);
    }
    return text;
}

std::string GoodD1(std::string modeText = "R+Z", std::string c = "+012") {
    return Record(kD1ReplyLength,
                  {{1, "D*1"},      {5, "01234"},   {11, "123"},    {15, "04"},     {18, "05"},
                   {22, "06"},      {26, "1"},      {28, modeText}, {36, "00"},     {39, "00"},
                   {42, "0A"},      {45, "00"},     {48, "FF"},     {51, "00"},     {55, c},
                   {61, "-000123"}, {69, "21.500"}, {79, "4.00"},   {86, "+012"},   {93, "-0123"},
                   {99, "+001"},    {106, "+0010"}, {113, "-1234"}, {120, "1500"},  {126, "+0100"},
                   {133, "0800"},   {139, "+0200"}, {147, "1.23"},  {153, "+0001"}, {160, "-0002"},
                   {167, "+5.01"},  {175, "+31.2"}, {181, "+15.1"}, {188, "-15.2"}, {197, "c"},
                   {201, "11.5"},   {208, "22.5"},  {215, "1.25"},  {222, "3.33"},  {229, "44.4"},
                   {236, "012"},    {240, "-003"}});
}

std::string GoodD2(std::string dacGain = "128", std::string sweep = "US",
                   std::string model = "403") {
    std::string text = Record(kD2ReplyLength, {{5, "01234"},
                                               {11, "123"},
                                               {15, "04h"},
                                               {18, "05mn"},
                                               {22, "06"},
                                               {25, "Vs 12.5V"},
                                               {33, " Vf 2.50V GDAC "},
                                               {48, dacGain},
                                               {51, " -15:-01 +15:+02 +45:+03 +75:-04"},
                                               {83, " Pi -1234 Oz+0321 Fo:12.6 MHZ CDU:"},
                                               {117, sweep},
                                               {119, " TXT:ABCDEFGHIJ"},
                                               {135, model},
                                               {139, "1.5"}});
    text.replace(1, 4, "\r\nID");
    return text;
}

TEST(StatusRecordsTest, D1ColumnsAreCutConvertedAndJudged) {
    D1Record d1;
    EXPECT_TRUE(ParseD1Record(GoodD1(), d1));
    EXPECT_EQ(d1.serialNumber, 1234u);
    EXPECT_EQ(d1.days, 123u);
    EXPECT_EQ(d1.modeText, "R+Z");
    EXPECT_EQ(d1.alarm2, 0x0Au);
    EXPECT_EQ(d1.alarm4, 0xFFu);
    EXPECT_EQ(d1.freqTune, -123);
    EXPECT_FLOAT_EQ(d1.pos21V, 21.5f);
    EXPECT_EQ(d1.vvcxo, -1234);
    EXPECT_EQ(d1.oscState, 'c');
    EXPECT_FLOAT_EQ(d1.vem, 44.4f);
    EXPECT_EQ(d1.stdDev, -3);
    EXPECT_TRUE(std::all_of(d1.valid.begin(), d1.valid.end(), [](bool v) { return v; }));

    // An unexpected mode text is stored but rejects the record.
    EXPECT_FALSE(ParseD1Record(GoodD1("R-Z"), d1));
    EXPECT_EQ(d1.modeText, "R-Z");
    EXPECT_FALSE(d1.valid[6]);

    // An out-of-range reading past the fault bytes only clears its own flag.
    EXPECT_TRUE(ParseD1Record(GoodD1("R+T", "1500"), d1));
    EXPECT_EQ(d1.c, 1500);
    EXPECT_FALSE(d1.valid[13]);
}

TEST(StatusRecordsTest, D1FieldThatDoesNotScanKeepsItsOldValueAndIsJudgedOnIt) {
    D1Record d1;
    ASSERT_TRUE(ParseD1Record(GoodD1(), d1));
    std::string reply = GoodD1();
    reply.replace(36, 2, "xx");  // status code
    reply.replace(69, 6, "  -   ");
    EXPECT_TRUE(ParseD1Record(reply, d1));
    EXPECT_EQ(d1.state, 0u);
    EXPECT_FLOAT_EQ(d1.pos21V, 21.5f);

    d1.state = 99;
    EXPECT_FALSE(ParseD1Record(reply, d1));  // the kept value is out of range
}

TEST(StatusRecordsTest, D2ModelCodeDacGainAndSweepCapability) {
    struct Case {
        std::string dacGain, sweep, model;
        std::int32_t expectedModel;
        float expectedGain;
        bool expectedSweep;
    };
    // The record starts as a 402's; a number outside 400 to 404 is a garbled reply and keeps it.
    const Case cases[] = {
        {"128", "US", "403", 403, 2.0f, true},  {"128", "us", "ver", 404, 128.0f, true},
        {"128", "NO", "370", 404, 128.0f, false}, {"064", "  ", "1  ", 402, 4.0f, false},
        {"128", "NO", "773", 402, 2.0f, false},   {"128", "NO", "-00", 402, 2.0f, false},
    };
    for (const Case& c : cases) {
        D2Record d2;
        d2.modelCode = kModel7730B;
        bool sweep = !c.expectedSweep;
        const bool good = ParseD2Record(GoodD2(c.dacGain, c.sweep, c.model), d2, sweep);
        EXPECT_EQ(d2.modelCode, c.expectedModel) << c.model;
        EXPECT_FLOAT_EQ(d2.dacGain, c.expectedGain) << c.model;
        EXPECT_EQ(sweep, c.expectedSweep) << c.sweep;
        EXPECT_TRUE(good) << c.model;

        D2Record scanned;
        scanned.modelCode = kModel7730B;
        ASSERT_TRUE(ParseIdentity(GoodD2(c.dacGain, c.sweep, c.model), scanned));
        // The identity scan reads the code as a number only: "ver" and "370" keep the old one.
        const bool numeric = c.model != "ver" && c.model != "370";
        EXPECT_EQ(scanned.modelCode, numeric ? c.expectedModel : kModel7730B) << c.model;
    }

    D2Record d2;
    bool sweep = false;
    ASSERT_TRUE(ParseD2Record(GoodD2("128", "US", "404"), d2, sweep));
    // A gain that does not scan is kept, not turned over again.
    EXPECT_TRUE(ParseD2Record(GoodD2("---", "US", "404"), d2, sweep));
    EXPECT_FLOAT_EQ(d2.dacGain, 128.0f);
    EXPECT_FALSE(ParseD2Record(GoodD2("000", "US", "403"), d2, sweep));  // gain out of range

    std::string badHeader = GoodD2();
    badHeader[1] = ' ';
    EXPECT_FALSE(ParseD2Record(badHeader, d2, sweep));
}

TEST(StatusRecordsTest, IdentityScanReadsTheSameFieldsAsTheColumns) {
    D2Record byColumns;
    D2Record byScan;
    bool sweep = false;
    const std::string reply = GoodD2("128", "US", "402");
    ASSERT_TRUE(ParseD2Record(reply, byColumns, sweep));
    ASSERT_TRUE(ParseIdentity(reply, byScan));
    EXPECT_EQ(std::tie(byScan.serialNumber, byScan.seconds, byScan.offsetPlus75, byScan.pi,
                       byScan.nomZRabi, byScan.sweepCapability, byScan.modelCode),
              std::tie(byColumns.serialNumber, byColumns.seconds, byColumns.offsetPlus75,
                       byColumns.pi, byColumns.nomZRabi, byColumns.sweepCapability,
                       byColumns.modelCode));
    EXPECT_FLOAT_EQ(byScan.ddsFrequencyMHz, byColumns.ddsFrequencyMHz);
    EXPECT_EQ(byScan.text, "ABCDEFGHIJ");
    EXPECT_FLOAT_EQ(byScan.value18, 1.5f);
    EXPECT_FALSE(ParseIdentity("\x02ID01234", byScan));
}

TEST(StatusRecordsTest, D5AndB20) {
    // Field 19 is kept to 11 characters; the fields after a longer one still scan.
    for (const std::string field19 : {"TEXT", "TEXTISLONGERTHANELEVEN"}) {
        D5Record d5;
        ParseD5Record("\x02"
                      "1,2019,7,14,51234,6,7,8,9,10,11,12,13,14,15,16,1.5,2.5," +
                          field19 + ",20,1,a,b,c,d,e,X,Y,Z,1f,P,Q,R,ff,35,36\n",
                      d5);
        EXPECT_EQ(d5.yearOfManufacture, 2019);
        EXPECT_EQ(d5.manufactureDateA, 7);
        EXPECT_EQ(d5.powerOnHours, 51234);
        EXPECT_EQ(d5.field14, 14);
        EXPECT_EQ(d5.field16, 16);
        EXPECT_EQ(d5.field19, field19.substr(0, 11));
        EXPECT_EQ(d5.restartFaultLevel, 1) << field19;
        EXPECT_EQ(d5.fields27to29[2], 'Z');
        EXPECT_EQ(d5.field34, 0xffu);
        EXPECT_EQ(d5.field36, 36) << field19;
    }

    B20Record b20;
    std::string reply = Record(kB20ReplyLength, {{1, "PS 24.1 23.9 0.0 26.8 120 AC"}});
    EXPECT_TRUE(ParseB20Record(reply, b20));
    EXPECT_FLOAT_EQ(b20.system24, 24.1f);
    EXPECT_FLOAT_EQ(b20.batt24, 26.8f);
    EXPECT_EQ(b20.charge, 120);
    EXPECT_EQ(b20.source, "AC");
    reply.back() = 'x';
    EXPECT_FALSE(ParseB20Record(reply, b20));
}

TEST(StatusRecordsTest, AlarmNamesArePaddedAndUnknownCodesAreEmpty) {
    EXPECT_EQ(AlarmName(0x26), "Fuse A open                  ");
    EXPECT_EQ(AlarmName(0x05), "C-field Current out of Range ");
    EXPECT_EQ(AlarmName(0x08), "VCXO Control Voltage at limit");
    EXPECT_EQ(AlarmName(0x19), "");
    EXPECT_EQ(AlarmName(0), "");
}

class StatusRecordExchangeTest : public testing::PortFixture {
  protected:
    CUnitState unit_;
    CTolvexLink link_{port_, unit_.InstrumentModel};
};

TEST_F(StatusRecordExchangeTest, ShortD1ReplyChangesNothing) {
    ASSERT_TRUE(pty_.Write(GoodD1().substr(0, kD1ReplyLength - 1)));
    EXPECT_FALSE(ReadD1Record(link_, unit_));
    EXPECT_EQ(pty_.ReadCount(12, std::chrono::seconds(2)),
              "\x02"
              "D*1 00000 \x03");
    EXPECT_EQ(unit_.Snapshot().d1.serialNumber, 0u);
}

TEST_F(StatusRecordExchangeTest, IdentityAndD2SetTheModelCode) {
    ASSERT_TRUE(pty_.Write(GoodD2("128", "US", "403")));
    EXPECT_TRUE(CheckIdentity(link_, unit_));
    EXPECT_EQ(unit_.InstrumentModel, 403);
    ASSERT_TRUE(pty_.Write(GoodD2("128", "us", "ver")));
    EXPECT_TRUE(ReadD2Record(link_, unit_));
    EXPECT_EQ(unit_.InstrumentModel, 404);
    EXPECT_TRUE(unit_.Snapshot().instrumentSweep);
}

}  // namespace
}  // namespace corvane3
